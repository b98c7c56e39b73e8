#include "shared_state.h"

#include <cstdio>
#include <cstring>

#include "register_map.h"

namespace vcam {

namespace {

constexpr DWORD kMagic = 0x4D414356;  // "VCAM"
constexpr char kSectionName[] = "QRVCam.State";
constexpr char kLockName[] = "QRVCam.StateLock";
constexpr char kStateFileName[] = "qrvcam-state.bin";

// Mapped once per process and kept for its lifetime.
SharedState* mapSharedState() {
  char path[MAX_PATH + 32];
  DWORD length = GetTempPathA(MAX_PATH, path);
  if (length == 0 || length > MAX_PATH) return nullptr;
  std::strcat(path, kStateFileName);
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE section = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, sizeof(SharedState), kSectionName);
  CloseHandle(file);
  if (!section) return nullptr;
  void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedState));
  if (!view) {
    CloseHandle(section);
    return nullptr;
  }
  return static_cast<SharedState*>(view);
}

}  // namespace

StateLock::StateLock() {
  // Both are opened once per process and kept: every device request takes the lock.
  static SharedState* const shared = mapSharedState();
  static const HANDLE lockMutex = CreateMutexA(nullptr, FALSE, kLockName);
  mutex_ = lockMutex;
  if (!mutex_ || !shared) return;
  const DWORD wait = WaitForSingleObject(mutex_, 10000);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return;
  state_ = shared;
  // A new file, or one left by a build with another layout, starts with no cameras.
  if (state_->magic != kMagic || state_->layoutSize != sizeof(SharedState)) resetState(*state_);
}

StateLock::~StateLock() {
  if (state_) ReleaseMutex(mutex_);
}

void resetState(SharedState& state) {
  std::memset(&state, 0, sizeof state);
  state.magic = kMagic;
  state.layoutSize = sizeof(SharedState);
  state.driverType = 6;  // WDM
  const DWORD version[4] = {1, 0, 0, 1};
  std::memcpy(state.driverVersion, version, sizeof version);
}

void appendLog(SharedState& state, const VCamLogEntry& entry) {
  state.log[state.logTotal % VCAM_LOG_CAPACITY] = entry;
  ++state.logTotal;
}

DWORD registerValue(const DeviceRecord& record, DWORD reg) {
  if (reg == camlib::kRegGeneralInput) return record.button ? camlib::kButtonBit : 0;
  return reg < RegisterFile::kRegisterCount ? record.registers.values[reg] : 0;
}

void holdObjectName(int index, DWORD generation, char* name, int size) {
  std::snprintf(name, size, "QRVCam.Hold.%d.%lu", index, static_cast<unsigned long>(generation));
}

bool isHeldOpen(int index, DWORD generation) {
  char name[64];
  holdObjectName(index, generation, name, sizeof name);
  HANDLE hold = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (!hold) return false;
  CloseHandle(hold);
  return true;
}

}  // namespace vcam

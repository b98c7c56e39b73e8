// CreateFileA / DeviceIoControl / CloseHandle for the virtual cameras. A device handle is a named
// event whose name carries the device position and plug generation: while it exists the device is
// held, so a second open fails in any process, and the hold ends with the holding process because
// the system closes its handles.
#include "device_io.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include "camera_wire.h"
#include "critical_section.h"
#include "device_paths.h"
#include "frame_source.h"
#include "register_map.h"
#include "shared_state.h"

namespace vcam {

namespace {

compat::CriticalSection handlesSection;
std::map<HANDLE, OpenDevice>& openHandles() {
  static std::map<HANDLE, OpenDevice> handles;
  return handles;
}

// Which position a path names, if the camera there is present and published that way.
bool resolvePath(const SharedState& state, const char* path, int& index, DWORD& generation) {
  const int fixed = fixedPathIndex(path);
  if (fixed >= 0) {
    const DeviceRecord& record = state.devices[fixed];
    if (!record.present || !(record.device.publish & VCAM_PUBLISH_FIXED_PATH)) return false;
    index = fixed;
    generation = record.generation;
    return true;
  }
  int parsedIndex;
  std::uint32_t parsedGeneration;
  if (!parseInterfacePath(path, parsedIndex, parsedGeneration)) return false;
  const DeviceRecord& record = state.devices[parsedIndex];
  if (!record.present || record.generation != parsedGeneration || !(record.device.publish & VCAM_PUBLISH_INTERFACE))
    return false;
  index = parsedIndex;
  generation = parsedGeneration;
  return true;
}

bool isCameraPath(const char* path) {
  int index;
  std::uint32_t generation;
  return fixedPathIndex(path) >= 0 || parseInterfacePath(path, index, generation);
}

// The record of an open device, or null when it was unplugged (or re-plugged) since it was opened.
DeviceRecord* liveRecord(SharedState& state, const OpenDevice& device) {
  DeviceRecord& record = state.devices[device.index];
  return record.present && record.generation == device.generation ? &record : nullptr;
}

// The camera answers a register read with two bytes.
DWORD readRegister(const DeviceRecord& record, DWORD reg) { return registerValue(record, reg) & 0xFFFF; }

void writeRegister(DeviceRecord& record, const camwire::VendorRequest& request, const BYTE* data) {
  // The general-purpose input is read only.
  if (request.index >= RegisterFile::kRegisterCount || request.index == camlib::kRegGeneralInput) return;
  RegisterFile& registers = record.registers;
  registers.values[request.index] = request.value;
  if (!data) return;
  const DWORD length = std::min<DWORD>(request.length, camwire::kTableSize);
  if (request.index == camlib::kRegToneTable) std::memcpy(registers.toneTable, data, length);
  if (request.index == camlib::kRegQuantTable) {
    for (DWORD i = 0; i + 1 < length; i += 2)
      registers.quantTable[i / 2] = static_cast<WORD>(data[i] | (data[i + 1] << 8));
  }
}

// A vendor request's data stage lives in the caller's memory; a bad address fails the request as
// the real driver's probe would.
bool dataStageUsable(const camwire::VendorRequest& request, bool forWriting) {
  if (request.length == 0) return true;
  if (request.length > 4096 || request.buffer == 0) return false;
  void* buffer = reinterpret_cast<void*>(request.buffer);
  return forWriting ? !IsBadWritePtr(buffer, request.length) : !IsBadReadPtr(buffer, request.length);
}

struct Reply {
  BOOL ok = TRUE;
  DWORD error = ERROR_SUCCESS;
  std::vector<BYTE> bytes;
};

Reply failure(DWORD error) {
  Reply reply;
  reply.ok = FALSE;
  reply.error = error;
  return reply;
}

template <typename T>
Reply replyWith(const T& value) {
  Reply reply;
  reply.bytes.resize(sizeof value);
  std::memcpy(reply.bytes.data(), &value, sizeof value);
  return reply;
}

VCamLogEntry logEntry(const OpenDevice& device, DWORD code, DWORD status) {
  VCamLogEntry entry{};
  entry.device = device.index;
  entry.code = code;
  entry.status = status;
  return entry;
}

Reply answerGetInfo(SharedState& state, const OpenDevice& device) {
  camwire::CameraInfoReply info{};
  const DeviceRecord* record = liveRecord(state, device);
  if (!record || record->gone) {
    info.status = camwire::kStatusGone;
  } else {
    const VCamDevice& d = record->device;
    info.busType = d.busType;
    info.infoWord1 = d.infoWord1;
    info.deviceId = d.deviceId;
    info.portMode = d.portMode;
    info.portNumber = d.portNumber;
    info.portAddress = d.portAddress;
    info.infoWord2 = d.infoWord2;
    std::memcpy(info.text1, d.text1, sizeof info.text1);
    std::memcpy(info.text2, d.text2, sizeof info.text2);
    std::memcpy(info.serial, d.serial, sizeof info.serial);
  }
  appendLog(state, logEntry(device, camwire::kGetInfo, info.status));
  return replyWith(info);
}

Reply answerDriverInfo(SharedState& state, const OpenDevice& device, const camwire::DriverInfoRequest& query) {
  state.stats.lastDriverQuery[0] = query.platformId;
  state.stats.lastDriverQuery[1] = query.majorVersion;
  state.stats.lastDriverQuery[2] = query.minorVersion;
  ++state.stats.driverQueries;
  camwire::DriverInfoReply reply{};
  const DeviceRecord* record = liveRecord(state, device);
  if (!record || record->gone) {
    reply.status = camwire::kStatusGone;
  } else {
    reply.driverType = state.driverType;
    std::memcpy(reply.version, state.driverVersion, sizeof reply.version);
  }
  appendLog(state, logEntry(device, camwire::kGetDriverInfo, reply.status));
  return replyWith(reply);
}

Reply answerVendorRequest(SharedState& state, const OpenDevice& device, const camwire::VendorRequest& request) {
  DeviceRecord* record = liveRecord(state, device);
  const bool present = record && !record->gone;
  VCamLogEntry entry = logEntry(device, camwire::kVendorRequest, present ? camwire::kStatusOk : camwire::kStatusGone);
  entry.direction = request.direction;
  entry.request = request.request;
  entry.value = request.value;
  entry.index = request.index;
  entry.length = request.length;
  appendLog(state, entry);
  const bool reading = request.direction == camwire::kCameraToHost;
  if (!dataStageUsable(request, reading)) return failure(ERROR_NOACCESS);
  BYTE* data = reinterpret_cast<BYTE*>(request.buffer);
  if (present && reading && request.request == camwire::kReadRegister) {
    const DWORD value = readRegister(*record, request.index);
    const BYTE answer[2] = {static_cast<BYTE>(value & 0xFF), static_cast<BYTE>(value >> 8)};
    std::memcpy(data, answer, std::min<DWORD>(request.length, 2));
  } else if (present && !reading && request.request == camwire::kWriteRegister) {
    writeRegister(*record, request, request.length ? data : nullptr);
  }
  return replyWith(DWORD{entry.status});
}

// The next replayed file, if any, leaves the queue into the job.
void takeReplay(DeviceRecord& record, FrameJob& job) {
  ReplayQueue& queue = record.replay;
  if (queue.count == 0 || queue.count > static_cast<DWORD>(ReplayQueue::kCapacity)) return;
  const char* path = queue.paths[queue.first % ReplayQueue::kCapacity];
  std::memcpy(job.replayPath, path, sizeof job.replayPath);
  job.replayPath[sizeof job.replayPath - 1] = 0;
  queue.first = (queue.first + 1) % ReplayQueue::kCapacity;
  --queue.count;
}

// The camera's automatic controls act between frames: what they moved is in the register file
// before the next frame is taken (unless the camera was unplugged meanwhile).
void applyFeedback(const OpenDevice& device, const qrvcam::SceneFeedback& moved) {
  if (moved.count <= 0) return;
  StateLock lock;
  SharedState* state = lock.state();
  DeviceRecord* record = state ? liveRecord(*state, device) : nullptr;
  if (!record) return;
  for (int i = 0; i < moved.count && i < 4; ++i) {
    if (moved.moved[i].reg < RegisterFile::kRegisterCount)
      record->registers.values[moved.moved[i].reg] = moved.moved[i].value;
  }
}

// Frames are at least `pacing` ms apart (per process, as a driver's frame clock would be).
void waitForFrameTime(DWORD pacing) {
  using Clock = std::chrono::steady_clock;
  static compat::CriticalSection clockSection;
  static Clock::time_point lastFrame;
  compat::Locked guard(clockSection);
  if (pacing) {
    const auto wait = lastFrame + std::chrono::milliseconds(pacing) - Clock::now();
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
  }
  lastFrame = Clock::now();
}

Reply answerReadFrame(const OpenDevice& device, const camwire::FrameRequest& request) {
  BYTE* buffer = reinterpret_cast<BYTE*>(request.buffer);
  if (request.length && (!buffer || IsBadWritePtr(buffer, request.length))) return failure(ERROR_NOACCESS);
  // Render from a copy of the registers, outside the lock, so control calls are never held up.
  RegisterFile registers;
  FrameJob job{};
  job.deviceIndex = device.index;
  DWORD pacing = 0;
  camwire::FrameReply reply{};
  {
    StateLock lock;
    SharedState* state = lock.state();
    if (!state) return failure(ERROR_NOT_READY);
    DeviceRecord* record = liveRecord(*state, device);
    if (!record || record->gone) {
      reply.status = camwire::kStatusGone;
      appendLog(*state, logEntry(device, camwire::kReadFrame, reply.status));
      return replyWith(reply);
    }
    registers = record->registers;
    job.frameNumber = record->framesDelivered++;
    job.scene = state->scene;
    takeReplay(*record, job);
    pacing = state->pacingMs;
    appendLog(*state, logEntry(device, camwire::kReadFrame, reply.status));
  }
  waitForFrameTime(pacing);
  qrvcam::SceneFeedback moved;
  reply.bytesStored =
      static_cast<DWORD>(produceFrame(job, registers, request.length ? buffer : nullptr, request.length, &moved));
  applyFeedback(device, moved);
  return replyWith(reply);
}

template <typename T>
bool readInput(const void* input, DWORD inputSize, T& value) {
  if (!input || inputSize < sizeof(T)) return false;
  std::memcpy(&value, input, sizeof(T));
  return true;
}

// Output size of each request; 0 for a code the camera does not know.
DWORD replySize(DWORD code) {
  switch (code) {
    case camwire::kGetInfo:
      return sizeof(camwire::CameraInfoReply);
    case camwire::kVendorRequest:
      return sizeof(DWORD);
    case camwire::kReadFrame:
      return sizeof(camwire::FrameReply);
    case camwire::kGetDriverInfo:
      return sizeof(camwire::DriverInfoReply);
    default:
      return 0;
  }
}

Reply answer(const OpenDevice& device, DWORD code, const void* input, DWORD inputSize) {
  if (code == camwire::kReadFrame) {
    camwire::FrameRequest request;
    if (!readInput(input, inputSize, request)) return failure(ERROR_INVALID_PARAMETER);
    return answerReadFrame(device, request);
  }
  StateLock lock;
  SharedState* state = lock.state();
  if (!state) return failure(ERROR_NOT_READY);
  switch (code) {
    case camwire::kGetInfo: {
      DWORD zero;
      if (!readInput(input, inputSize, zero)) return failure(ERROR_INVALID_PARAMETER);
      return answerGetInfo(*state, device);
    }
    case camwire::kVendorRequest: {
      camwire::VendorRequest request;
      if (!readInput(input, inputSize, request)) return failure(ERROR_INVALID_PARAMETER);
      return answerVendorRequest(*state, device, request);
    }
    case camwire::kGetDriverInfo: {
      camwire::DriverInfoRequest query;
      if (!readInput(input, inputSize, query)) return failure(ERROR_INVALID_PARAMETER);
      return answerDriverInfo(*state, device, query);
    }
    default:
      return failure(ERROR_INVALID_FUNCTION);
  }
}

}  // namespace

bool lookupHandle(HANDLE handle, OpenDevice& device) {
  compat::Locked guard(handlesSection);
  auto it = openHandles().find(handle);
  if (it == openHandles().end()) return false;
  device = it->second;
  return true;
}

}  // namespace vcam

using namespace vcam;

extern "C" HANDLE WINAPI VCamCreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                                         DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (!path || !isCameraPath(path))
    return CreateFileA(path, access, shareMode, security, disposition, flags, templateFile);
  int index = -1;
  DWORD generation = 0;
  {
    StateLock lock;
    if (!lock.state() || !resolvePath(*lock.state(), path, index, generation)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
  }
  char name[64];
  holdObjectName(index, generation, name, sizeof name);
  HANDLE hold = CreateEventA(nullptr, TRUE, FALSE, name);
  if (!hold) return INVALID_HANDLE_VALUE;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {  // another handle holds the device: it is exclusive
    CloseHandle(hold);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  compat::Locked guard(handlesSection);
  openHandles()[hold] = OpenDevice{index, generation};
  SetLastError(ERROR_SUCCESS);
  return hold;
}

extern "C" BOOL WINAPI VCamDeviceIoControl(HANDLE handle, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                                           DWORD outputSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
  OpenDevice device;
  if (!lookupHandle(handle, device))
    return DeviceIoControl(handle, code, input, inputSize, output, outputSize, bytesReturned, overlapped);
  if (bytesReturned) *bytesReturned = 0;
  const DWORD size = replySize(code);
  if (size == 0) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  // Checked before the request acts, as the I/O manager would for a buffered request.
  if (!output || outputSize < size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const Reply reply = answer(device, code, input, inputSize);
  if (!reply.ok) {
    SetLastError(reply.error);
    return FALSE;
  }
  std::memcpy(output, reply.bytes.data(), reply.bytes.size());
  if (bytesReturned) *bytesReturned = static_cast<DWORD>(reply.bytes.size());
  return TRUE;
}

extern "C" BOOL WINAPI VCamCloseHandle(HANDLE handle) {
  {
    compat::Locked guard(handlesSection);
    openHandles().erase(handle);
  }
  return CloseHandle(handle);
}

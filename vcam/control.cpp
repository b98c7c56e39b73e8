// The control exports of qrvcam.dll: what a test, qrvcamctl.exe or a person does to the cameras.
#include <algorithm>
#include <cstring>

#include "qrvcam.h"
#include "scene.h"
#include "shared_state.h"

namespace {

using vcam::DeviceRecord;
using vcam::SharedState;
using vcam::StateLock;

static_assert(VCAM_SCENE_COUNT == qrvcam::kSceneCount && VCAM_SCENE_LANDSCAPE == qrvcam::kSceneLandscape &&
                  VCAM_SCENE_FLAT_GREY == qrvcam::kSceneFlatGrey && VCAM_SCENE_FLAT_BLACK == qrvcam::kSceneFlatBlack,
              "one numbering of the scenes");

bool validIndex(LONG index) { return index >= 0 && index < VCAM_MAX_DEVICES; }

// Runs `change` on a present camera under the state lock; 1 when it ran.
template <typename Change>
LONG withPresentDevice(LONG index, Change change) {
  if (!validIndex(index)) return 0;
  StateLock lock;
  SharedState* state = lock.state();
  if (!state || !state->devices[index].present) return 0;
  change(state->devices[index]);
  return 1;
}

}  // namespace

extern "C" {

LONG WINAPI VCamReset(void) {
  StateLock lock;
  if (!lock.state()) return 0;
  // Generations keep rising across resets so that a handle still held from before never matches
  // a camera plugged in afterwards.
  DWORD generations[VCAM_MAX_DEVICES];
  for (int i = 0; i < VCAM_MAX_DEVICES; ++i) generations[i] = lock.state()->devices[i].generation;
  vcam::resetState(*lock.state());
  for (int i = 0; i < VCAM_MAX_DEVICES; ++i) lock.state()->devices[i].generation = generations[i];
  return 1;
}

LONG WINAPI VCamPlug(LONG index, const VCamDevice* device) {
  if (!validIndex(index) || !device) return 0;
  if (device->busType != 1 && device->busType != 2) return 0;
  StateLock lock;
  SharedState* state = lock.state();
  if (!state) return 0;
  DeviceRecord& record = state->devices[index];
  const DWORD generation = record.generation + 1;
  std::memset(&record, 0, sizeof record);
  record.present = 1;
  record.generation = generation;
  record.device = *device;
  if (record.device.publish == 0) record.device.publish = VCAM_PUBLISH_FIXED_PATH;
  // Texts are kept as given, all 128 bytes: a real driver need not terminate them either.
  return 1;
}

LONG WINAPI VCamUnplug(LONG index) {
  return withPresentDevice(index, [](DeviceRecord& record) {
    record.present = 0;
    record.gone = 0;
    record.button = 0;
    record.replay.count = 0;
  });
}

LONG WINAPI VCamSetGone(LONG index, LONG gone) {
  return withPresentDevice(index, [gone](DeviceRecord& record) { record.gone = gone ? 1 : 0; });
}

LONG WINAPI VCamSetButton(LONG index, LONG level) {
  return withPresentDevice(index, [level](DeviceRecord& record) { record.button = level ? 1 : 0; });
}

LONG WINAPI VCamGetDeviceStatus(LONG index, VCamDeviceStatus* status) {
  if (!validIndex(index) || !status) return 0;
  StateLock lock;
  SharedState* state = lock.state();
  if (!state) return 0;
  const DeviceRecord& record = state->devices[index];
  std::memset(status, 0, sizeof *status);
  status->present = record.present;
  status->gone = record.gone;
  status->button = record.button;
  status->generation = record.generation;
  status->framesDelivered = record.framesDelivered;
  status->open = record.present && vcam::isHeldOpen(index, record.generation);
  if (record.present) status->device = record.device;
  return 1;
}

LONG WINAPI VCamReadRegister(LONG index, LONG reg, DWORD* value) {
  if (!value || reg < 0 || reg >= VCAM_REGISTER_COUNT) return 0;
  return withPresentDevice(
      index, [reg, value](DeviceRecord& record) { *value = vcam::registerValue(record, static_cast<DWORD>(reg)); });
}

LONG WINAPI VCamReadToneTable(LONG index, BYTE* table256) {
  if (!table256) return 0;
  return withPresentDevice(index, [table256](DeviceRecord& record) {
    std::memcpy(table256, record.registers.toneTable, sizeof record.registers.toneTable);
  });
}

LONG WINAPI VCamReadQuantTable(LONG index, WORD* table128) {
  if (!table128) return 0;
  return withPresentDevice(index, [table128](DeviceRecord& record) {
    std::memcpy(table128, record.registers.quantTable, sizeof record.registers.quantTable);
  });
}

LONG WINAPI VCamGetLogCount(void) {
  StateLock lock;
  return lock.state() ? static_cast<LONG>(lock.state()->logTotal) : 0;
}

LONG WINAPI VCamReadLog(LONG first, VCamLogEntry* entries, LONG count) {
  if (!entries || first < 0 || count <= 0) return 0;
  StateLock lock;
  SharedState* state = lock.state();
  if (!state) return 0;
  const DWORD total = state->logTotal;
  const DWORD oldestKept = total > VCAM_LOG_CAPACITY ? total - VCAM_LOG_CAPACITY : 0;
  LONG copied = 0;
  for (DWORD i = std::max(static_cast<DWORD>(first), oldestKept); i < total && copied < count; ++i) {
    entries[copied++] = state->log[i % VCAM_LOG_CAPACITY];
  }
  return copied;
}

LONG WINAPI VCamClearLog(void) {
  StateLock lock;
  if (!lock.state()) return 0;
  lock.state()->logTotal = 0;
  return 1;
}

LONG WINAPI VCamSetDriverInfo(LONG driverType, const DWORD* version4) {
  if (!version4) return 0;
  StateLock lock;
  if (!lock.state()) return 0;
  lock.state()->driverType = static_cast<DWORD>(driverType);
  std::memcpy(lock.state()->driverVersion, version4, 4 * sizeof(DWORD));
  return 1;
}

LONG WINAPI VCamGetStats(VCamStats* stats) {
  if (!stats) return 0;
  StateLock lock;
  if (!lock.state()) return 0;
  *stats = lock.state()->stats;
  return 1;
}

LONG WINAPI VCamSetScene(LONG scene) {
  StateLock lock;
  if (!lock.state() || scene < 0 || scene >= static_cast<LONG>(qrvcam::kSceneCount)) return 0;
  lock.state()->scene = static_cast<DWORD>(scene);
  return 1;
}

LONG WINAPI VCamGetScene(void) {
  StateLock lock;
  return lock.state() ? static_cast<LONG>(lock.state()->scene) : -1;
}

LONG WINAPI VCamSetPacing(LONG milliseconds) {
  StateLock lock;
  if (!lock.state() || milliseconds < 0 || milliseconds > 10000) return 0;
  lock.state()->pacingMs = static_cast<DWORD>(milliseconds);
  return 1;
}

LONG WINAPI VCamQueueReplay(LONG index, LPCSTR path) {
  if (!path || !*path) return 0;
  char full[vcam::kReplayPathSize];
  const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return 0;
  LONG waiting = 0;
  withPresentDevice(index, [&](DeviceRecord& record) {
    vcam::ReplayQueue& queue = record.replay;
    if (queue.count >= static_cast<DWORD>(vcam::ReplayQueue::kCapacity)) return;
    std::memcpy(queue.paths[(queue.first + queue.count) % vcam::ReplayQueue::kCapacity], full, length + 1);
    waiting = static_cast<LONG>(++queue.count);
  });
  return waiting;
}

LONG WINAPI VCamClearReplay(LONG index) {
  return withPresentDevice(index, [](DeviceRecord& record) { record.replay.count = 0; });
}

}  // extern "C"

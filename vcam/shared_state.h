// The virtual camera's state, shared by every process through one named file-backed section.
#pragma once
#include <windows.h>

#include <cstdint>

#include "frame_source.h"
#include "qrvcam.h"
#include "register_file.h"

namespace vcam {

// Files whose bytes a camera delivers as its next frames, oldest first.
struct ReplayQueue {
  static constexpr int kCapacity = VCAM_REPLAY_CAPACITY;
  DWORD first;
  DWORD count;
  char paths[kCapacity][kReplayPathSize];
};

struct DeviceRecord {
  DWORD present;
  DWORD generation;
  DWORD gone;
  DWORD button;
  DWORD framesDelivered;
  VCamDevice device;
  RegisterFile registers;
  ReplayQueue replay;
};

struct SharedState {
  DWORD magic;
  DWORD layoutSize;
  DWORD driverType;
  DWORD driverVersion[4];
  DWORD scene;
  DWORD pacingMs;
  VCamStats stats;
  DeviceRecord devices[VCAM_MAX_DEVICES];
  DWORD logTotal;
  VCamLogEntry log[VCAM_LOG_CAPACITY];
};

// Holds the cross-process state lock for its lifetime. state() is null when the section could not
// be created (then every operation reports failure).
class StateLock {
 public:
  StateLock();
  ~StateLock();
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  SharedState* state() const { return state_; }

 private:
  HANDLE mutex_ = nullptr;
  SharedState* state_ = nullptr;
};

// Resets to no cameras, default driver info, empty log.
void resetState(SharedState& state);

void appendLog(SharedState& state, const VCamLogEntry& entry);

// A register as the camera holds it: the last value written, except the general-purpose input,
// whose bit 1 is the push-button level. 0 for a register beyond the file.
DWORD registerValue(const DeviceRecord& record, DWORD reg);

// The name of the object whose existence means "device index, plug generation is held open".
void holdObjectName(int index, DWORD generation, char* name, int size);

// Whether some process holds the device open.
bool isHeldOpen(int index, DWORD generation);

}  // namespace vcam

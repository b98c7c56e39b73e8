// The capture driver as a capture application reaches it: opened by its registered name through
// winmm's installable-driver layer (OpenDriver "msvideo" in "Drivers32", SendDriverMessage), in
// this process, with the virtual camera behind the camera library.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "critical_section.h"
#include "driver_abi.h"
#include "vcam_control.h"

namespace avitest {

// What the driver sent back through DriverCallback (CALLBACK_FUNCTION).
struct Callback {
  UINT message;
  DWORD_PTR param;
  DWORD_PTR handle;
};

class CallbackLog {
 public:
  CallbackLog();
  ~CallbackLog();
  static void CALLBACK record(HDRVR handle, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);
  std::vector<Callback> calls();
  std::vector<Callback> calls(UINT message);
  // Waits until `count` calls of `message` have arrived; false on time-out.
  bool waitFor(UINT message, std::size_t count, DWORD timeoutMs = 5000);
  // Forgets the calls and the hook.
  void clear();
  // A hook run on the thread of each MM_DRVM_DATA, after it is recorded.
  void onData(void (*hook)(void* context, VIDEOHDR* header), void* context) {
    hook_ = hook;
    hookContext_ = context;
  }

 private:
  compat::CriticalSection lock_;
  std::vector<Callback> calls_;
  HANDLE event_;
  void (*hook_)(void*, VIDEOHDR*) = nullptr;
  void* hookContext_ = nullptr;
};

// Client buffers: prepared headers over data areas followed by guard bytes.
class Buffers {
 public:
  Buffers(std::size_t count, DWORD length);
  VIDEOHDR* operator[](std::size_t i) { return &headers_[i]; }
  std::size_t size() const { return headers_.size(); }
  // Bytes written past dwBufferLength of buffer i.
  std::size_t damagedGuardBytes(std::size_t i) const;
  const BYTE* data(std::size_t i) const { return data_[i].data(); }

 private:
  std::vector<std::vector<BYTE>> data_;
  std::vector<VIDEOHDR> headers_;
};

constexpr DWORD_PTR kVideoHandle = 0x5151;

// The client's loop: every completed buffer goes straight back (on the timer's thread).
// It counts the adds the driver took, by buffer (dwUser is the buffer's index).
struct Recycler {
  HDRVR video;
  volatile LONG stop = 0;
  volatile LONG adds[8] = {};
  static void onData(void* self, VIDEOHDR* header) {
    Recycler& r = *static_cast<Recycler*>(self);
    if (r.stop) return;
    if (SendDriverMessage(r.video, avi::kDvmStreamAddBuffer, reinterpret_cast<LPARAM>(header), sizeof(VIDEOHDR)) == 0) {
      InterlockedIncrement(&r.adds[header->dwUser]);
    }
  }
};

class CaptureDriver : public qrtest::VirtualCameraTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // OpenDriver with a VIDEO_OPEN_PARMS for `channel`; null when the driver refused (lastError()).
  HDRVR open(DWORD channel, DWORD fccType = avi::kFccVcap);
  DWORD lastError() const { return openParms_.dwError; }
  // Plugs virtual camera 0 (USB) and opens the channel, which must succeed.
  HDRVR openWithCamera(DWORD channel);
  void close(HDRVR driver);
  LRESULT send(HDRVR driver, UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0) {
    return SendDriverMessage(driver, message, lParam1, lParam2);
  }
  // The driver's own DriverProc, for the answers winmm keeps to itself (DRV_OPEN, DRV_CLOSE).
  DRIVERPROC driverProc(HDRVR driver);

  // A profile stored before the driver opens (current profile 0, revision 80).
  void storeProfile(std::initializer_list<std::pair<const char*, LONG>> values);

  // DVM_FORMAT set/get on the video-input channel.
  LRESULT setFormat(HDRVR video, LONG width, LONG height, DWORD compression, WORD bitCount, WORD planes = 1);
  BITMAPINFOHEADER getFormat(HDRVR video);

  // DVM_STREAM_INIT with this test's callback log.
  LRESULT initStream(HDRVR video, DWORD microSecPerFrame, bool withCallback = true);

  CallbackLog callbacks_;

 private:
  avi::VideoOpenParms openParms_{};
  std::vector<HDRVR> opened_;
};

}  // namespace avitest

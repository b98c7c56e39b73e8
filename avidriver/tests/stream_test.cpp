// Streaming on the video-input channel: INIT's interval, the queue, START/STOP/RESET/FINI with
// their codes and callbacks, GETERROR and GETPOSITION, "Stream Enable", a lost camera, buffers
// that are never lost or completed twice, and a second process that wants the camera.
#include <windows.h>

#include <map>
#include <string>

#include "child_process.h"
#include "driver_fixture.h"
#include "import_hook.h"
#include "modal_answerer.h"
#include "qrcamlib.h"

namespace {

using avitest::Buffers;
using avitest::CaptureDriver;
using avitest::Recycler;
using namespace avi;

constexpr DWORD kRgb320 = 320 * 240 * 3;

DWORD framesDelivered() {
  VCamDeviceStatus status{};
  VCamGetDeviceStatus(0, &status);
  return status.framesDelivered;
}

class Streaming : public CaptureDriver {
 protected:
  void SetUp() override {
    CaptureDriver::SetUp();
    video_ = openWithCamera(kVideoIn);
    ASSERT_NE(nullptr, video_);
    ASSERT_EQ(0, setFormat(video_, 320, 240, BI_RGB, 24));
  }
  LRESULT add(VIDEOHDR* header) {
    return send(video_, kDvmStreamAddBuffer, reinterpret_cast<LPARAM>(header), sizeof(VIDEOHDR));
  }
  // Starts a stream at that frame time with every buffer queued; `onData` sees each delivery.
  void startWith(Buffers& buffers, DWORD microSecPerFrame, void (*onData)(void*, VIDEOHDR*), void* self) {
    callbacks_.onData(onData, self);
    ASSERT_EQ(0, initStream(video_, microSecPerFrame));
    for (std::size_t i = 0; i < buffers.size(); ++i) ASSERT_EQ(0, add(buffers[i]));
    ASSERT_EQ(0, send(video_, kDvmStreamStart));
  }
  // The buffers of the MM_DRVM_DATA callbacks so far, in order.
  std::vector<VIDEOHDR*> delivered() {
    std::vector<VIDEOHDR*> headers;
    for (const avitest::Callback& c : callbacks_.calls(MM_DRVM_DATA))
      headers.push_back(reinterpret_cast<VIDEOHDR*>(c.param));
    return headers;
  }
  HDRVR video_ = nullptr;
};

TEST_F(Streaming, TheFrameIntervalHasAFloorOf16667MicrosecondsAndTheFirstFrameComesAfterOneInterval) {
  struct Case {
    DWORD microSeconds;
    DWORD earliest, latest;  // dwTimeCaptured of the first frame, in ms after START
  };
  const Case cases[] = {{10000, 16, 60}, {66666, 66, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE("interval " + std::to_string(c.microSeconds));
    Buffers buffers(1, kRgb320);
    callbacks_.clear();
    ASSERT_EQ(0, initStream(video_, c.microSeconds));
    ASSERT_EQ(0, add(buffers[0]));
    ASSERT_EQ(0, send(video_, kDvmStreamStart));
    ASSERT_TRUE(callbacks_.waitFor(MM_DRVM_DATA, 1));
    EXPECT_GE(buffers[0]->dwTimeCaptured + 1, c.earliest);  // one tick of timer granularity
    EXPECT_LT(buffers[0]->dwTimeCaptured, c.latest);
    ASSERT_EQ(0, send(video_, kDvmStreamReset));
    ASSERT_EQ(0, send(video_, kDvmStreamFini));
  }
}

TEST_F(Streaming, StartWithoutABufferCountsASkippedFrameThatGetErrorReportsOnce) {
  ASSERT_EQ(0, initStream(video_, 66666));
  ASSERT_EQ(1u, callbacks_.calls(MM_DRVM_OPEN).size());
  ASSERT_EQ(0, send(video_, kDvmStreamStart));
  const std::vector<avitest::Callback> errors = callbacks_.calls(MM_DRVM_ERROR);
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(1u, errors[0].param);
  EXPECT_EQ(avitest::kVideoHandle, errors[0].handle);
  DWORD error = 99, count = 99;
  EXPECT_EQ(0, send(video_, kDvmStreamGetError, reinterpret_cast<LPARAM>(&error), reinterpret_cast<LPARAM>(&count)));
  EXPECT_EQ(static_cast<DWORD>(DV_ERR_NO_BUFFERS), error);
  EXPECT_EQ(1u, count);
  EXPECT_EQ(0, send(video_, kDvmStreamGetError, reinterpret_cast<LPARAM>(&error), reinterpret_cast<LPARAM>(&count)));
  EXPECT_EQ(0u, error);
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0, send(video_, kDvmStreamGetError, 0, 0));
}

TEST_F(Streaming, ABufferAddedBeforeStartIsReadOnlyAtStart) {
  Buffers buffers(1, kRgb320);
  ASSERT_EQ(0, initStream(video_, 66666));
  const DWORD before = framesDelivered();
  ASSERT_EQ(0, add(buffers[0]));
  EXPECT_EQ(before, framesDelivered());
  EXPECT_EQ(static_cast<DWORD>(VHDR_PREPARED | VHDR_INQUEUE), buffers[0]->dwFlags);
  ASSERT_EQ(0, send(video_, kDvmStreamStart));
  EXPECT_EQ(before + 1, framesDelivered());
  ASSERT_TRUE(callbacks_.waitFor(MM_DRVM_DATA, 1));
  EXPECT_EQ(buffers[0], delivered()[0]);
  EXPECT_EQ(kRgb320, buffers[0]->dwBytesUsed);
  EXPECT_EQ(static_cast<DWORD>(VHDR_PREPARED | VHDR_DONE | VHDR_KEYFRAME), buffers[0]->dwFlags);
  EXPECT_EQ(0u, buffers.damagedGuardBytes(0));
  MMTIME time{};
  EXPECT_EQ(0, send(video_, kDvmStreamGetPosition, reinterpret_cast<LPARAM>(&time), 12));
  EXPECT_EQ(static_cast<UINT>(TIME_MS), time.wType);
  EXPECT_EQ(buffers[0]->dwTimeCaptured, time.u.ms);
  EXPECT_EQ(DV_ERR_NOTSUPPORTED, send(video_, kDvmStreamGetPosition, reinterpret_cast<LPARAM>(&time), 16));
}

TEST_F(Streaming, BadBuffersAreRefusedWithTheirCodes) {
  EXPECT_EQ(DV_ERR_NONSPECIFIC, add(nullptr)) << "not initialised";
  Buffers ok(1, kRgb320);
  EXPECT_EQ(DV_ERR_NONSPECIFIC, add(ok[0])) << "not initialised";
  ASSERT_EQ(0, initStream(video_, 66666));
  EXPECT_EQ(DV_ERR_NONSPECIFIC, initStream(video_, 66666)) << "initialised twice";
  Buffers shortOne(1, kRgb320 - 1), unprepared(1, kRgb320), noData(1, kRgb320);
  unprepared[0]->dwFlags = 0;
  noData[0]->lpData = nullptr;
  EXPECT_EQ(DV_ERR_NONSPECIFIC, add(nullptr));
  EXPECT_EQ(DV_ERR_NONSPECIFIC, add(shortOne[0]));
  EXPECT_EQ(DV_ERR_UNPREPARED, add(unprepared[0]));
  EXPECT_EQ(DV_ERR_NONSPECIFIC, add(noData[0]));
  ASSERT_EQ(0, add(ok[0]));
  EXPECT_EQ(DV_ERR_NONSPECIFIC, add(ok[0])) << "queued twice";
  // Filled and waiting for its timer: not in the queue, but not the client's either.
  ASSERT_EQ(0, send(video_, kDvmStreamStart));
  ASSERT_EQ(0u, callbacks_.calls(MM_DRVM_DATA).size());
  EXPECT_EQ(DV_ERR_NONSPECIFIC, add(ok[0])) << "added again while waiting for its delivery";
  ASSERT_TRUE(callbacks_.waitFor(MM_DRVM_DATA, 1));
  EXPECT_EQ(0u, shortOne.damagedGuardBytes(0));
  for (UINT message : {kDvmStreamPrepareHeader, kDvmStreamUnprepareHeader, 0x4140u, kDvmStreamMsgEnd}) {
    EXPECT_EQ(DV_ERR_NOTSUPPORTED, send(video_, message)) << std::hex << message;
  }
}

TEST_F(Streaming, ResetHandsBackEveryQueuedBufferOldestFirstAndFiniThenCloses) {
  Buffers buffers(3, kRgb320);
  ASSERT_EQ(0, initStream(video_, 66666));
  for (std::size_t i = 0; i < buffers.size(); ++i) ASSERT_EQ(0, add(buffers[i]));
  EXPECT_EQ(DV_ERR_STILLPLAYING, send(video_, kDvmStreamFini));
  ASSERT_EQ(0, send(video_, kDvmStreamReset));
  const std::vector<VIDEOHDR*> back = delivered();
  ASSERT_EQ(3u, back.size());
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(buffers[i], back[i]);
    EXPECT_EQ(static_cast<DWORD>(VHDR_PREPARED | VHDR_DONE), buffers[i]->dwFlags);
    EXPECT_EQ(0u, buffers[i]->dwBytesUsed);
  }
  EXPECT_EQ(0u, callbacks_.calls(MM_DRVM_CLOSE).size());
  ASSERT_EQ(0, send(video_, kDvmStreamFini));
  EXPECT_EQ(1u, callbacks_.calls(MM_DRVM_CLOSE).size());
  for (UINT message : {kDvmStreamFini, kDvmStreamStart, kDvmStreamStop, kDvmStreamReset}) {
    EXPECT_EQ(DV_ERR_NONSPECIFIC, send(video_, message)) << std::hex << message;
  }
}

TEST_F(Streaming, ABufferFilledWhenTheStreamStopsIsHandedBackWithItsBytesOnceBeforeStopReturns) {
  for (UINT stop : {kDvmStreamStop, kDvmStreamReset}) {
    SCOPED_TRACE("message " + std::to_string(stop));
    callbacks_.clear();
    Buffers buffers(2, kRgb320);
    ASSERT_EQ(0, initStream(video_, 66666));
    ASSERT_EQ(0, add(buffers[0]));
    ASSERT_EQ(0, add(buffers[1]));
    ASSERT_EQ(0, send(video_, kDvmStreamStart));  // buffer 0 filled, its delivery 63 ms away
    ASSERT_EQ(0, send(video_, stop));
    ASSERT_TRUE(buffers[0]->dwFlags & VHDR_DONE) << "the filled buffer was lost";
    EXPECT_EQ(kRgb320, buffers[0]->dwBytesUsed);
    ASSERT_EQ(0, send(video_, kDvmStreamReset));
    ASSERT_EQ(0, send(video_, kDvmStreamFini));
    // Well past the cancelled delivery: nothing more arrives.
    EXPECT_FALSE(callbacks_.waitFor(MM_DRVM_DATA, 3, 150));
    const std::vector<VIDEOHDR*> back = delivered();
    ASSERT_EQ(2u, back.size());
    EXPECT_EQ(buffers[0], back[0]);
    EXPECT_EQ(buffers[1], back[1]);
  }
}

TEST_F(Streaming, WithoutACallbackBuffersAreStillCompleted) {
  Buffers buffers(1, kRgb320);
  ASSERT_EQ(0, initStream(video_, 16667, false));
  ASSERT_EQ(0, add(buffers[0]));
  ASSERT_EQ(0, send(video_, kDvmStreamStart));
  const DWORD start = GetTickCount();
  while (!(buffers[0]->dwFlags & VHDR_DONE) && GetTickCount() - start < 5000) Sleep(1);
  EXPECT_TRUE(buffers[0]->dwFlags & VHDR_DONE);
  EXPECT_EQ(kRgb320, buffers[0]->dwBytesUsed);
  EXPECT_TRUE(callbacks_.calls().empty());
}

TEST_F(CaptureDriver, StreamEnable0RefusesStreamingButNotSingleFrames) {
  storeProfile({{"Stream Enable", 0}});
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  EXPECT_EQ(DV_ERR_NOTSUPPORTED, initStream(video, 66666));
  EXPECT_TRUE(callbacks_.calls().empty());
  const DWORD size = getFormat(video).biSizeImage;
  Buffers buffers(1, size);
  EXPECT_EQ(0, send(video, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
  EXPECT_EQ(size, buffers[0]->dwBytesUsed);
}

// Re-adds every buffer as a recording client does, noting when each frame was captured.
struct CaptureTimes {
  Recycler recycler;
  volatile LONG count = 0;
  DWORD times[64] = {};
  static void onData(void* self, VIDEOHDR* header) {
    CaptureTimes& t = *static_cast<CaptureTimes*>(self);
    const LONG i = InterlockedIncrement(&t.count) - 1;
    if (i < 64) t.times[i] = header->dwTimeCaptured;
    Recycler::onData(&t.recycler, header);
  }
};

// Frame k is due k frame times after START. How late a frame comes depends on the machine; coming
// early is a fault (the delivered rate would exceed the client's: 33.3 instead of 30 a second).
TEST_F(Streaming, NoFrameIsDeliveredBeforeItsTimeOnTheClientsTimeline) {
  Buffers buffers(4, kRgb320);
  CaptureTimes times{{video_}};
  ASSERT_NO_FATAL_FAILURE(startWith(buffers, 33333, &CaptureTimes::onData, &times));
  ASSERT_TRUE(callbacks_.waitFor(MM_DRVM_DATA, 20));
  times.recycler.stop = 1;
  ASSERT_EQ(0, send(video_, kDvmStreamStop));
  ASSERT_EQ(0, send(video_, kDvmStreamReset));
  ASSERT_EQ(0, send(video_, kDvmStreamFini));
  ASSERT_GE(times.count, 20);
  for (DWORD k = 1; k <= 20; ++k) {
    EXPECT_GE(times.times[k - 1] + 1, k * 33333 / 1000) << "frame " << k;  // one tick of timer granularity
  }
}

// Re-adds every buffer, counting the deliveries and those that came without the image's bytes.
struct BytesSeen {
  Recycler recycler;
  volatile LONG count = 0;
  volatile LONG withoutBytes = 0;
  static void onData(void* self, VIDEOHDR* header) {
    BytesSeen& b = *static_cast<BytesSeen*>(self);
    if (b.recycler.stop) return;
    InterlockedIncrement(&b.count);
    if (header->dwBytesUsed != kRgb320) InterlockedIncrement(&b.withoutBytes);
    Recycler::onData(&b.recycler, header);
  }
};

TEST_F(Streaming, ALostCameraIsReleasedAndEveryFrameIsStillCompletedWithItsBytes) {
  Buffers buffers(2, kRgb320);
  BytesSeen seen{{video_}};
  ASSERT_NO_FATAL_FAILURE(startWith(buffers, 16667, &BytesSeen::onData, &seen));
  ASSERT_TRUE(callbacks_.waitFor(MM_DRVM_DATA, 5));
  ASSERT_EQ(1, VCamSetGone(0, 1));
  const std::size_t before = callbacks_.calls(MM_DRVM_DATA).size();
  EXPECT_TRUE(callbacks_.waitFor(MM_DRVM_DATA, before + 10)) << "the stream stopped with the camera";
  VCamDeviceStatus status{};
  ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
  EXPECT_EQ(0u, status.open) << "the driver still holds the lost camera";
  seen.recycler.stop = 1;
  ASSERT_EQ(0, send(video_, kDvmStreamStop));
  ASSERT_EQ(0, send(video_, kDvmStreamReset));
  ASSERT_EQ(0, send(video_, kDvmStreamFini));
  EXPECT_GE(seen.count, static_cast<LONG>(before + 10));
  EXPECT_EQ(0, seen.withoutBytes);
  VCamSetGone(0, 0);
}

// With "ErrorMessages" on, the frame that finds the camera gone says so and fails; later frames
// leave the client's header alone, and the camera is no longer held.
TEST_F(CaptureDriver, ASingleFrameThatLosesTheCameraShowsTheMessageAndLaterFramesLeaveTheHeaderAlone) {
  storeProfile({{"ErrorMessages", 1}});
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  ASSERT_EQ(0, setFormat(video, 320, 240, BI_RGB, 24));
  Buffers buffers(1, kRgb320);
  ASSERT_EQ(0, send(video, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
  ASSERT_EQ(1, VCamSetGone(0, 1));
  {
    qrtest::ModalAnswerer answerer;
    answerer.plan(IDOK);
    buffers[0]->dwFlags = VHDR_PREPARED;
    EXPECT_EQ(DV_ERR_PARAM1, send(video, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
    ASSERT_EQ(1u, answerer.seen().size());
    EXPECT_EQ("Sentrio V2 DigiCam AVI Driver", answerer.seen()[0].caption);
    EXPECT_EQ("Camera communication lost, check I/O connections and restart application", answerer.seen()[0].text);
    EXPECT_TRUE(answerer.seen()[0].hasIcon);
  }
  VCamDeviceStatus status{};
  ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
  EXPECT_EQ(0u, status.open);
  Buffers later(1, kRgb320);
  const DWORD frames = framesDelivered();
  EXPECT_EQ(0, send(video, kDvmFrame, reinterpret_cast<LPARAM>(later[0]), sizeof(VIDEOHDR)));
  EXPECT_EQ(static_cast<DWORD>(VHDR_PREPARED), later[0]->dwFlags);
  EXPECT_EQ(0u, later[0]->dwBytesUsed);
  EXPECT_EQ(frames, framesDelivered());
  VCamSetGone(0, 0);
}

// FINI and RESET on the client's thread against deliveries and re-adds on the timer's thread: no
// buffer is completed twice, none after FINI, and no callback arrives once FINI has returned.
TEST_F(Streaming, StoppingRacesNoDeliveryIntoAReusedBufferOrPastFini) {
  Buffers buffers(3, kRgb320);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    callbacks_.clear();
    Recycler recycler{video_};
    callbacks_.onData(&Recycler::onData, &recycler);
    ASSERT_EQ(0, initStream(video_, 16667));
    for (std::size_t i = 0; i < buffers.size(); ++i) {
      ASSERT_EQ(0, add(buffers[i]));
      recycler.adds[i] = 1;
    }
    ASSERT_EQ(0, send(video_, kDvmStreamStart));
    callbacks_.waitFor(MM_DRVM_DATA, static_cast<std::size_t>(round % 4));
    recycler.stop = 1;
    ASSERT_EQ(0, send(video_, kDvmStreamReset));
    ASSERT_EQ(0, send(video_, kDvmStreamFini));
    const std::size_t atFini = callbacks_.calls().size();
    EXPECT_EQ(MM_DRVM_CLOSE, callbacks_.calls().back().message);
    EXPECT_FALSE(callbacks_.waitFor(MM_DRVM_DATA, 1000, 40));
    EXPECT_EQ(atFini, callbacks_.calls().size()) << "a callback after FINI returned";
    // Each add is answered by exactly one completion: none lost, none twice.
    std::map<VIDEOHDR*, LONG> completions;
    for (VIDEOHDR* header : delivered()) ++completions[header];
    for (std::size_t i = 0; i < buffers.size(); ++i) EXPECT_EQ(recycler.adds[i], completions[buffers[i]]) << i;
    for (std::size_t i = 0; i < buffers.size(); ++i) EXPECT_EQ(0u, buffers.damagedGuardBytes(i));
  }
}

// The driver's timers, through its imports: the first delivery callback that winmm dispatches is
// held at the door, before any of the driver's code runs, until FINI has either returned (then the
// driver's code would run after FINI, where an unloaded DLL would crash) or asked winmm for a
// timer of its own to wait behind the callbacks already dispatched.
struct HeldDelivery {
  static HeldDelivery* current;
  LPTIMECALLBACK driverCallback = nullptr;
  DWORD_PTR driverUser = 0;
  volatile LONG armed = 1;
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  volatile LONG finiReturned = 0;
  volatile LONG ranAfterFini = 0;
  qrtest::ImportHook* setEvent = nullptr;
  ~HeldDelivery() {
    CloseHandle(held);
    CloseHandle(release);
    CloseHandle(done);
  }
  static void CALLBACK door(UINT id, UINT message, DWORD_PTR, DWORD_PTR dw1, DWORD_PTR dw2) {
    HeldDelivery& h = *current;
    SetEvent(h.held);
    WaitForSingleObject(h.release, 10000);
    if (h.finiReturned) InterlockedExchange(&h.ranAfterFini, 1);
    h.driverCallback(id, message, h.driverUser, dw1, dw2);
    SetEvent(h.done);
  }
  static MMRESULT WINAPI timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                                      UINT flags) {
    HeldDelivery& h = *current;
    auto original = h.setEvent->original<MMRESULT(WINAPI*)(UINT, UINT, LPTIMECALLBACK, DWORD_PTR, UINT)>();
    if (flags & (TIME_CALLBACK_EVENT_SET | TIME_CALLBACK_EVENT_PULSE)) {
      SetEvent(h.release);  // the driver waits behind what winmm has dispatched
      return original(delay, resolution, callback, user, flags);
    }
    if (InterlockedExchange(&h.armed, 0) == 0) return original(delay, resolution, callback, user, flags);
    h.driverCallback = callback;
    h.driverUser = user;
    return original(delay, resolution, &HeldDelivery::door, 0, flags);
  }
};
HeldDelivery* HeldDelivery::current = nullptr;

TEST_F(Streaming, ADeliveryCallbackDispatchedBeforeFiniRunsNoDriverCodeAfterFiniReturns) {
  HeldDelivery h;
  HeldDelivery::current = &h;
  qrtest::ImportHook hook(GetModuleHandleA("quorelavi.dll"), "winmm.dll", "timeSetEvent",
                          reinterpret_cast<void*>(&HeldDelivery::timeSetEvent));
  ASSERT_TRUE(hook.installed());
  h.setEvent = &hook;
  Buffers buffers(1, kRgb320);
  ASSERT_EQ(0, initStream(video_, 16667));
  ASSERT_EQ(0, add(buffers[0]));
  ASSERT_EQ(0, send(video_, kDvmStreamStart));
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(h.held, 5000)) << "no delivery was dispatched";
  EXPECT_EQ(0, send(video_, kDvmStreamFini));
  InterlockedExchange(&h.finiReturned, 1);
  SetEvent(h.release);
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(h.done, 10000));
  EXPECT_EQ(0, h.ranAfterFini) << "the driver's callback ran after FINI returned";
  EXPECT_TRUE(buffers[0]->dwFlags & VHDR_DONE) << "the filled buffer was not handed back";
}

TEST_F(Streaming, ASecondProcessGets19WhileTheFirstStreamsOn) {
  Buffers buffers(2, kRgb320);
  Recycler recycler{video_};
  ASSERT_NO_FATAL_FAILURE(startWith(buffers, 16667, &Recycler::onData, &recycler));
  ASSERT_TRUE(callbacks_.waitFor(MM_DRVM_DATA, 3));
  EXPECT_EQ(static_cast<long>(DV_ERR_ALLOCATED), qrtest::runChild("avi_peer.exe", ""));
  const std::size_t seen = callbacks_.calls(MM_DRVM_DATA).size();
  EXPECT_TRUE(callbacks_.waitFor(MM_DRVM_DATA, seen + 5)) << "the first stream stopped";
  recycler.stop = 1;
  ASSERT_EQ(0, send(video_, kDvmStreamReset));
}

}  // namespace

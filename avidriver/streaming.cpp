// Single frames and streaming on the video-input channel. A frame is read into the head buffer on
// the client's thread when a buffer is added while streaming (or at START); a one-shot multimedia
// timer completes it no sooner than the frame interval after the previous completion.
//
// Where the stream protocol would otherwise lose or double a client's buffer:
// - a filled buffer whose delivery timer is still pending when the stream stops is completed (done,
//   with its bytes and time) before STOP returns; RESET and FINI stop first, so they never leave
//   one behind either;
// - a delivery callback completes only the buffer its own timer was set for, and only while that
//   buffer still waits (checked under the stream lock), so a stopped, reset or re-added buffer is
//   never completed twice or early;
// - FINI and the last close wait until no delivery callback is left inside the driver, so no
//   callback reaches the client after they return;
// - a null header, an unprepared one, one already queued or waiting, one without data or one
//   shorter than the image are refused; nothing is written past dwBufferLength.

#include "driver_instance.h"
#include "driver_values.h"
#include "qrcamlib.h"

namespace avi {

namespace {

constexpr DWORD kMinMicroSecPerFrame = 16667;
constexpr DWORD kMmTimeSize = 12;
constexpr DWORD kWaitForCallbacksMs = 5000;

VIDEOHDR* nextOf(const VIDEOHDR* header) { return reinterpret_cast<VIDEOHDR*>(header->dwReserved[0]); }
void setNext(VIDEOHDR* header, VIDEOHDR* next) { header->dwReserved[0] = reinterpret_cast<DWORD_PTR>(next); }

void notify(const VideoStreamInitParms& params, UINT message, DWORD_PTR param) {
  if (!params.dwCallback) return;
  DriverCallback(params.dwCallback, HIWORD(params.dwFlags), reinterpret_cast<HDRVR>(params.hVideo), message,
                 params.dwCallbackInst, param, 0);
}

bool contains(const VIDEOHDR* list, const VIDEOHDR* header) {
  for (const VIDEOHDR* h = list; h; h = nextOf(h)) {
    if (h == header) return true;
  }
  return false;
}

// The list of filled buffers waiting for their timers, oldest first.
void appendWaiting(StreamContext& stream, VIDEOHDR* header) {
  setNext(header, nullptr);
  if (!stream.waiting) {
    stream.waiting = header;
    return;
  }
  VIDEOHDR* last = stream.waiting;
  while (nextOf(last)) last = nextOf(last);
  setNext(last, header);
}

bool removeWaiting(StreamContext& stream, VIDEOHDR* header) {
  VIDEOHDR* previous = nullptr;
  for (VIDEOHDR* h = stream.waiting; h; previous = h, h = nextOf(h)) {
    if (h != header) continue;
    if (previous) {
      setNext(previous, nextOf(h));
    } else {
      stream.waiting = nextOf(h);
    }
    setNext(h, nullptr);
    return true;
  }
  return false;
}

VIDEOHDR* popQueue(StreamContext& stream) {
  VIDEOHDR* header = stream.head;
  if (!header) return nullptr;
  stream.head = nextOf(header);
  if (!stream.head) stream.tail = nullptr;
  setNext(header, nullptr);
  header->dwFlags &= ~VHDR_INQUEUE;
  return header;
}

// Marks a filled buffer done and time-stamps it; the caller sends MM_DRVM_DATA.
void complete(StreamContext& stream, VIDEOHDR* header) {
  header->dwReserved[1] = 0;
  header->dwReserved[2] = 0;
  header->dwReserved[3] = 0;
  header->dwTimeCaptured = timeGetTime() - stream.startTime;
  stream.position = header->dwTimeCaptured;
  header->dwFlags |= VHDR_DONE | VHDR_KEYFRAME;
}

// The waiting buffer whose delivery carries this number.
VIDEOHDR* findWaiting(const StreamContext& stream, DWORD_PTR delivery) {
  for (VIDEOHDR* h = stream.waiting; h; h = nextOf(h)) {
    if (h->dwReserved[2] == delivery) return h;
  }
  return nullptr;
}

// Timers to kill once the stream lock is left: winmm holds its own lock while it calls a timer
// back, and the callback takes the stream lock, so no timer call is made while holding it.
struct TimerList {
  static constexpr int kCapacity = 64;
  UINT ids[kCapacity];
  int count = 0;
  void add(UINT id) {
    if (id == 0) return;
    if (count < kCapacity) {
      ids[count++] = id;
    } else {
      timeKillEvent(id);  // more buffers than anyone waits with: killed at once
    }
  }
  void killAll() {
    for (int i = 0; i < count; ++i) timeKillEvent(ids[i]);
    count = 0;
  }
};

// The delivery timer's callback. dwUser is the delivery's number, which only the buffer filled for
// it carries, so a late or stale timer completes nothing.
void CALLBACK deliverFrame(UINT timerId, UINT, DWORD_PTR delivery, DWORD_PTR, DWORD_PTR) {
  DriverInstance& driver = theDriver();
  StreamContext& stream = driver.stream;
  InterlockedIncrement(&stream.callbacksRunning);
  VIDEOHDR* header = nullptr;
  VideoStreamInitParms params{};
  stream.lock.enter();
  if (stream.deliveryTimer == timerId) stream.deliveryTimer = 0;
  if (stream.streaming) header = findWaiting(stream, delivery);
  if (header) {
    removeWaiting(stream, header);
    complete(stream, header);
    params = stream.params;
    stream.callbackThread = GetCurrentThreadId();
  }
  stream.lock.leave();
  if (header) {
    notify(params, MM_DRVM_DATA, reinterpret_cast<DWORD_PTR>(header));
    stream.callbackThread = 0;
  }
  InterlockedDecrement(&stream.callbacksRunning);
}

// Milliseconds until the next delivery is due. Deliveries keep to the timeline of the client's
// frame time, so that neither the whole milliseconds of the timer nor its lateness add up (a fixed
// "frame time less 3 ms after the last delivery" ran 10 % fast at 30 frames a second). A stream
// more than a frame behind, because no buffer came back in time, starts its timeline again.
LONG delayToNextFrame(StreamContext& stream) {
  const DWORD now = timeGetTime();
  stream.timelineFrames += 1;
  DWORD due = stream.timelineStart + static_cast<DWORD>(static_cast<unsigned long long>(stream.timelineFrames) *
                                                        stream.microSecPerFrame / 1000);
  if (static_cast<LONG>(now - due) > stream.msPerFrame) {
    stream.timelineStart = now;
    stream.timelineFrames = 0;
    due = now;
  }
  const LONG delay = static_cast<LONG>(due - now);
  return delay < 1 ? 1 : delay;
}

// Reads a frame into the head buffer and sets its delivery timer. Called without the stream lock:
// the read (tens of milliseconds for a large frame) holds only the frame lock, so deliveries due
// meanwhile are made on time. The buffer being read is on neither list; a stop meanwhile leaves it
// to this function, which then hands it back at once.
void scheduleNextFrame(DriverInstance& driver) {
  StreamContext& stream = driver.stream;
  driver.frameLock.enter();
  stream.lock.enter();
  VIDEOHDR* header = stream.streaming ? popQueue(stream) : nullptr;
  if (!header) {
    if (stream.streaming) {
      stream.skipped += 1;
      notify(stream.params, MM_DRVM_ERROR, stream.skipped);
    }
    stream.lock.leave();
    driver.frameLock.leave();
    return;
  }
  stream.reading = header;
  stream.lock.leave();
  prepareFrame(driver);
  readFrame(driver, header->lpData);
  stream.lock.enter();
  driver.frameLock.leave();
  stream.reading = nullptr;
  header->dwBytesUsed = driver.format.imageSize();
  if (!stream.streaming) {  // stopped while reading: the buffer goes back now
    complete(stream, header);
    notify(stream.params, MM_DRVM_DATA, reinterpret_cast<DWORD_PTR>(header));
    stream.lock.leave();
    return;
  }
  header->dwReserved[1] = 1;
  LONG delay = delayToNextFrame(stream);
  if (delay > 1000) delay = 1000;
  if (++stream.deliveries == 0) stream.deliveries = 1;
  const DWORD_PTR delivery = stream.deliveries;
  header->dwReserved[2] = delivery;
  header->dwReserved[3] = 0;
  appendWaiting(stream, header);
  stream.lock.leave();
  const UINT timer =
      timeSetEvent(static_cast<UINT>(delay), 1, deliverFrame, delivery, TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
  compat::Locked hold(stream.lock);
  VIDEOHDR* still = findWaiting(stream, delivery);
  if (timer == 0) {
    if (still) {  // no timer: the frame completes at once
      removeWaiting(stream, still);
      complete(stream, still);
      notify(stream.params, MM_DRVM_DATA, reinterpret_cast<DWORD_PTR>(still));
    }
  } else if (still) {
    still->dwReserved[3] = timer;
    stream.deliveryTimer = timer;
  } else {
    // Stopped meanwhile on another thread: the buffer went back with the stop.
    stream.lock.leave();
    timeKillEvent(timer);
    stream.lock.enter();
  }
}

// Waits until no frame is being read into a buffer of the stream (the reader hands it back).
void waitForReader(DriverInstance& driver) { compat::Locked reading(driver.frameLock); }

// STOP, and the first step of RESET and FINI: no more frames; buffers already filled are handed
// back now, oldest first; their timers go into `kill` (one that fires anyway finds nothing). A
// buffer still being read is handed back by its reader, which the stop then waits for.
void stopStream(StreamContext& stream, TimerList& kill) {
  stream.streaming = false;
  QRSetFastGrabEn(0);
  while (VIDEOHDR* header = stream.waiting) {
    stream.waiting = nextOf(header);
    setNext(header, nullptr);
    kill.add(static_cast<UINT>(header->dwReserved[3]));
    complete(stream, header);
    notify(stream.params, MM_DRVM_DATA, reinterpret_cast<DWORD_PTR>(header));
  }
  stream.deliveryTimer = 0;
}

DWORD addBuffer(DriverInstance& driver, VIDEOHDR* header, bool& read) {
  StreamContext& stream = driver.stream;
  if (!stream.initialised || !header) return DV_ERR_NONSPECIFIC;
  if (!(header->dwFlags & VHDR_PREPARED)) return DV_ERR_UNPREPARED;
  if (header->dwFlags & VHDR_INQUEUE) return DV_ERR_NONSPECIFIC;
  if (contains(stream.waiting, header) || contains(stream.head, header) || stream.reading == header) {
    return DV_ERR_NONSPECIFIC;
  }
  if (!header->lpData || header->dwBufferLength < driver.format.imageSize()) return DV_ERR_NONSPECIFIC;
  header->dwFlags &= ~VHDR_DONE;
  header->dwBytesUsed = 0;
  header->dwFlags |= VHDR_INQUEUE;
  header->dwReserved[1] = 0;
  setNext(header, nullptr);
  if (stream.tail) {
    setNext(stream.tail, header);
  } else {
    stream.head = header;
  }
  stream.tail = header;
  read = stream.streaming;
  return DV_ERR_OK;
}

DWORD initStream(DriverInstance& driver, const VideoStreamInitParms* parms) {
  StreamContext& stream = driver.stream;
  if (stream.initialised) return DV_ERR_NONSPECIFIC;
  if (!parms) return DV_ERR_PARAM1;
  stream.params = *parms;
  stream.initialised = true;
  stream.streaming = false;
  stream.position = 0;
  stream.skipped = 0;
  stream.head = stream.tail = nullptr;
  stream.waiting = nullptr;
  stream.microSecPerFrame =
      parms->dwMicroSecPerFrame < kMinMicroSecPerFrame ? kMinMicroSecPerFrame : parms->dwMicroSecPerFrame;
  stream.msPerFrame = static_cast<LONG>(stream.microSecPerFrame / 1000);
  notify(stream.params, MM_DRVM_OPEN, 0);
  return DV_ERR_OK;
}

DWORD startStream(DriverInstance& driver, bool& read) {
  StreamContext& stream = driver.stream;
  if (!stream.initialised) return DV_ERR_NONSPECIFIC;
  stream.streaming = true;
  stream.startTime = timeGetTime();
  stream.timelineStart = stream.startTime;
  stream.timelineFrames = 0;
  QRSetFastGrabEn(1);
  read = true;
  return DV_ERR_OK;
}

DWORD resetStream(StreamContext& stream, TimerList& kill) {
  if (!stream.initialised) return DV_ERR_NONSPECIFIC;
  stopStream(stream, kill);
  while (VIDEOHDR* header = popQueue(stream)) {
    header->dwFlags |= VHDR_DONE;
    notify(stream.params, MM_DRVM_DATA, reinterpret_cast<DWORD_PTR>(header));
  }
  return DV_ERR_OK;
}

DWORD getError(StreamContext& stream, DWORD* error, DWORD* count) {
  if (error) *error = stream.skipped ? DV_ERR_NO_BUFFERS : DV_ERR_OK;
  if (count) *count = stream.skipped;
  stream.skipped = 0;
  return DV_ERR_OK;
}

DWORD getPosition(const StreamContext& stream, MMTIME* time, DWORD size) {
  if (size != kMmTimeSize) return DV_ERR_NOTSUPPORTED;
  if (!time) return DV_ERR_PARAM1;
  time->wType = TIME_MS;
  time->u.ms = stream.position;
  return DV_ERR_OK;
}

}  // namespace

DWORD streamMessage(DriverInstance& driver, UINT message, LPARAM lParam1, LPARAM lParam2) {
  StreamContext& stream = driver.stream;
  TimerList kill;
  DWORD result = DV_ERR_OK;
  bool read = false;
  stream.lock.enter();
  switch (message) {
    case kDvmStreamFini:
      if (!stream.initialised) {
        result = DV_ERR_NONSPECIFIC;
      } else if (stream.head) {
        result = DV_ERR_STILLPLAYING;
      } else {
        kill.add(stream.deliveryTimer);
        stopStream(stream, kill);
        stream.initialised = false;
        stream.head = stream.tail = nullptr;
      }
      break;
    case kDvmStreamAddBuffer:
      result = addBuffer(driver, reinterpret_cast<VIDEOHDR*>(lParam1), read);
      break;
    case kDvmStreamGetError:
      result = getError(stream, reinterpret_cast<DWORD*>(lParam1), reinterpret_cast<DWORD*>(lParam2));
      break;
    case kDvmStreamGetPosition:
      result = getPosition(stream, reinterpret_cast<MMTIME*>(lParam1), static_cast<DWORD>(lParam2));
      break;
    case kDvmStreamInit:
      result = initStream(driver, reinterpret_cast<const VideoStreamInitParms*>(lParam1));
      break;
    case kDvmStreamReset:
      result = resetStream(stream, kill);
      break;
    case kDvmStreamStart:
      result = startStream(driver, read);
      break;
    case kDvmStreamStop:
      if (stream.initialised) {
        stopStream(stream, kill);
      } else {
        result = DV_ERR_NONSPECIFIC;
      }
      break;
    default:
      result = DV_ERR_NOTSUPPORTED;
      break;
  }
  stream.lock.leave();
  // Outside the stream lock: the frame read, and the timer calls (winmm holds its own lock while
  // it calls a timer back, and the callback takes the stream lock).
  if (read) scheduleNextFrame(driver);
  const bool stopped =
      result == DV_ERR_OK && (message == kDvmStreamStop || message == kDvmStreamReset || message == kDvmStreamFini);
  if (stopped) {
    kill.killAll();
    waitForReader(driver);  // a buffer being read goes back before the stop returns
  }
  if (stopped && message == kDvmStreamFini) {
    waitForDeliveries(driver);
    notify(stream.params, MM_DRVM_CLOSE, 0);
  }
  return result;
}

DWORD singleFrame(DriverInstance& driver, LPARAM lParam1) {
  VIDEOHDR* header = reinterpret_cast<VIDEOHDR*>(lParam1);
  if (!header || !header->lpData) return DV_ERR_PARAM1;
  compat::Locked hold(driver.frameLock);
  if (header->dwBufferLength < driver.format.imageSize()) return DV_ERR_SIZEFIELD;
  if (!driver.cameraPresent) return DV_ERR_OK;
  QRSetFastGrabEn(0);
  prepareFrame(driver);
  header->dwTimeCaptured = timeGetTime();
  const LONG status = readFrame(driver, header->lpData);
  if (status == 35 || status == 19 || status == 18) return DV_ERR_PARAM1;
  header->dwBytesUsed = driver.format.imageSize();
  header->dwFlags |= VHDR_DONE | VHDR_KEYFRAME;
  return DV_ERR_OK;
}

bool streamBusy(DriverInstance& driver) {
  compat::Locked hold(driver.stream.lock);
  return driver.stream.streaming || driver.stream.head != nullptr;
}

// Two steps: callbacks that have entered the driver are waited out by their count; then a timer
// of our own, which winmm's one timer thread signals only after every callback dispatched before it
// has returned, covers one that winmm has dispatched but that has not yet reached the count (or is
// leaving after it). The barrier's timer sets an event itself, so no code of this DLL runs on the
// timer thread after it. Not on the timer thread itself (a client stopping from its callback).
void waitForDeliveries(DriverInstance& driver) {
  StreamContext& stream = driver.stream;
  const DWORD started = GetTickCount();
  const bool onTimerThread = stream.callbackThread == GetCurrentThreadId();
  for (;;) {
    const LONG own = onTimerThread ? 1 : 0;
    if (stream.callbacksRunning <= own || GetTickCount() - started > kWaitForCallbacksMs) break;
    Sleep(1);
  }
  if (onTimerThread) return;
  HANDLE passed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!passed) return;
  if (timeSetEvent(1, 1, reinterpret_cast<LPTIMECALLBACK>(passed), 0, TIME_ONESHOT | TIME_CALLBACK_EVENT_SET)) {
    WaitForSingleObject(passed, kWaitForCallbacksMs);
  }
  CloseHandle(passed);
}

}  // namespace avi

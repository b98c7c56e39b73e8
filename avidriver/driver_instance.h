// The capture driver's state: one DriverInstance per process (the DLL's data is not shared), alive
// as long as the DLL is loaded. DriverProc (driver_proc.cpp) is its only way in.
#pragma once
#include <windows.h>

#include "critical_section.h"
#include "driver_abi.h"
#include "profile_store.h"
#include "video_format.h"

namespace avi {

constexpr const char kCaption[] = "Sentrio V2 DigiCam AVI Driver";
constexpr const char kKeyName[] = "AVI";

// The stream of the video-input channel (streaming.cpp). The queue is linked through the
// client's own headers: dwReserved[0] is the next header, dwReserved[1] is 1 while a filled buffer
// waits for its delivery timer, dwReserved[2] the number of that delivery and dwReserved[3] its
// timer's id. Filled buffers waiting for
// their timers are kept on a second list, linked the same way, so that stopping the stream can
// hand them back instead of losing them.
struct StreamContext {
  bool initialised = false;
  bool streaming = false;
  VideoStreamInitParms params{};
  DWORD microSecPerFrame = 0;
  LONG msPerFrame = 0;
  VIDEOHDR* head = nullptr;
  VIDEOHDR* tail = nullptr;
  DWORD startTime = 0;
  // The delivery timeline: frame n of it is due n frame times after its start (START, or the
  // moment a stream that fell behind caught up again).
  DWORD timelineStart = 0;
  DWORD timelineFrames = 0;
  DWORD position = 0;
  DWORD skipped = 0;
  UINT deliveryTimer = 0;
  DWORD deliveries = 0;         // numbers the deliveries, so that a timer finds only its own buffer
  VIDEOHDR* waiting = nullptr;  // filled, delivery timer pending; oldest first
  VIDEOHDR* reading = nullptr;  // taken off the queue, its frame being read
  // Held by every stream message and the delivery callback while they touch the stream or a
  // client header; the callback leaves it before calling the client back. Not held while a frame
  // is read (that is the driver's frame lock), so deliveries keep their time.
  compat::CriticalSection lock;
  // Delivery callbacks that have entered the driver and not yet left it; FINI and the last close
  // wait for none to be left, so that no callback arrives after them.
  volatile LONG callbacksRunning = 0;
  volatile DWORD callbackThread = 0;
};

// Per-frame state of prepareFrame and readFrame.
struct FrameState {
  LONG buttonState = 0;
  bool buttonHold = false;
  bool frameReady = false;
  LONG lastReportedButton = 1;
  LONG lastReportedRed = 0, lastReportedBlue = 0, lastReportedShutter = 0, lastReportedGain = 0;
};

// Out-of-band controls (the registry protocol of the "OOB Controls" sub-key): what prepareFrame's
// out-of-band step and readFrame's reports share.
struct OutOfBandState {
  LONG ledMode = 3;  // the out-of-band LED mode, 3 after start-up
  // The digital output asked for; 128 and above are not sent (none has been asked for yet).
  LONG digitalOutput = 128;
  bool reportButton = false;
  bool reportCameraValues = false;
};

// Timed profiles: two profiles bound to two periods of the day. The periods and profiles
// themselves are the five values of the "AVI" key that the profile store loads and saves with
// the profile ("Timed Profile Enable", "Timed Profile 1/2 Start Time", "Timed Profile 1/2"). The
// two profiles are profile numbers (0-based, the key "UserProfile<n + 1>"), not positions in a
// list of the profiles that exist.
struct TimedProfileState {
  bool active = false;                        // two different start times, and enabled
  bool inPeriod1 = false, inPeriod2 = false;  // that period's profile has been loaded
  bool refresh = false;                       // a switch happened; the source dialog redraws
};

// The source and format dialogs (dialogs.cpp).
struct DialogState {
  bool sourceDialogOpen = false;  // a source dialog window exists (either form)
  HWND sourceDialogWindow = nullptr;
  bool sourceLoop = false;  // DVM_DIALOG opens the other form when this one closes
  bool fullForm = false;    // the form that opens next; kept for the life of the process
  bool formatDialogOpen = false;
  HWND formatDialogWindow = nullptr;
  // Set by the source dialog's Cancel, cleared when one opens: applySettings then leaves the
  // camera's exposure and colour balances alone.
  bool keepExposure = false;
  // 1 after the profile manager loaded a profile, 2 after the factory values: the full source
  // dialog redraws at its next tick.
  LONG profileRefresh = 0;
  // The codes being chosen in the format dialog.
  LONG resolutionCode = 0, formatCode = 0;
};

struct DriverInstance {
  HINSTANCE moduleHandle = nullptr;
  WORD externalInOpens = 0;
  WORD videoInOpens = 0;
  bool initialised = false;
  LONG libraryStatus = 0;
  bool cameraPresent = false;
  bool powered = false;
  BYTE connectionType = 0;
  DWORD portAddress = 0;
  BYTE portMode = 0;
  BYTE portNumber = 1;
  LONG noiseFilter = 0;
  LONG mmxRequested = 1;
  LONG mmxState = 0;
  LONG profileIndex = 0;
  profiles::ProfileSettings profile{profiles::kCaptureDriverLayout};
  profiles::ProfileSettings live{profiles::kCaptureDriverLayout};
  FormatState format;
  StreamContext stream;
  FrameState frame;
  OutOfBandState outOfBand;
  TimedProfileState timed;
  DialogState dialogs;
  // Held while a frame is prepared and read (stream, DVM_FRAME, the external channel's INIT) and
  // while a client loads or saves the profile: they share the settings, the per-frame state and
  // the settings library's one current key. Taken before the stream lock, never while holding it.
  compat::CriticalSection frameLock;
};

DriverInstance& theDriver();

// The driver's settings store: loads and saves the one ProfileSettings of the process. The driver
// keeps one for its lifetime; each dialog holds another.
class TQRViewIO {
 public:
  explicit TQRViewIO(DriverInstance& driver) : driver_(driver) {}
  virtual ~TQRViewIO() = default;
  virtual void load();
  virtual void save();
  virtual void loadFactoryDefaults();

  // The profile load with the revision check: 1 when the stored profile was at revision 80.
  LONG loadWithRevisionCheck();
  // DVM_CONFIGURESTORAGE's save: the camera's automatic values first, then save.
  void saveWithCameraValues();

 private:
  // "Resolution" and "Format" are not read while the driver runs with them.
  profiles::KeepList kept() const;
  DriverInstance& driver_;
};

TQRViewIO& theSettingsStore();

// Frames (frame_step.cpp).
void applySettings(DriverInstance& driver);
void prepareFrame(DriverInstance& driver);
LONG readFrame(DriverInstance& driver, void* buffer);

// Streams (streaming.cpp): every stream message of the video-input channel, DVM_FRAME, and the
// wait for delivery callbacks still inside the driver.
DWORD streamMessage(DriverInstance& driver, UINT message, LPARAM lParam1, LPARAM lParam2);
DWORD singleFrame(DriverInstance& driver, LPARAM header);
bool streamBusy(DriverInstance& driver);
void waitForDeliveries(DriverInstance& driver);

}  // namespace avi

// qrvcam.dll: the virtual camera that stands in for the camera's kernel-mode driver and the
// cameras behind it.
//
// Device side: CreateFileA, DeviceIoControl, CloseHandle and the four SETUPAPI entry points with
// their Win32 signatures and meaning for the camera's device paths ("\\.\QRVIDDEV0" ... "F") and
// its device-interface class. qrcamlib takes them from this DLL when HKLM
// "Software\Orvane Imaging" "Camera Device Provider" names it. Other paths and handles are passed
// on to the system.
//
// Control side (below): tests, qrvcamctl.exe and people plug and unplug cameras, press the button,
// mark a camera gone, and read back its registers and the log of requests. The state lives in a
// named shared-memory section backed by a file in the temporary directory, so every process sees
// the same cameras and they stay plugged in between processes until VCamReset.
#pragma once
#include <windows.h>

#ifdef QRVCAM_BUILD
#define QRVCAM_API WINAPI
#else
#define QRVCAM_API DECLSPEC_IMPORT WINAPI
#endif

#define VCAM_MAX_DEVICES 16
#define VCAM_REGISTER_COUNT 64
#define VCAM_TEXT_SIZE 128
#define VCAM_LOG_CAPACITY 4096
#define VCAM_REPLAY_CAPACITY 32

// How a camera can be found: at its fixed path (drivers for Windows 95/98 and NT 4.0), through the
// device-interface class (WDM drivers), or both.
#define VCAM_PUBLISH_FIXED_PATH 1
#define VCAM_PUBLISH_INTERFACE 2

// The scenes in front of the cameras (VCamSetScene; "qrvcamctl scene N"). The flat fields are of
// one light each, 0-255 a channel: grey 128, white 200, red 180/40/40, green 40/180/40, blue
// 40/40/180, black 0; with neutral processing (gain 64, shutter 256, identity tone table,
// saturation 125, red balance 117, blue balance 143, which undo the room's slightly warm light)
// a picture of one shows that colour.
#define VCAM_SCENE_TEST_PATTERN 0  // colour bars, ramps, fine lines and a bouncing ball; moves
#define VCAM_SCENE_LANDSCAPE 1     // a still, photograph-like view: mountains, firs, a lake
#define VCAM_SCENE_FLAT_GREY 2
#define VCAM_SCENE_FLAT_WHITE 3
#define VCAM_SCENE_FLAT_RED 4
#define VCAM_SCENE_FLAT_GREEN 5
#define VCAM_SCENE_FLAT_BLUE 6
#define VCAM_SCENE_FLAT_BLACK 7
#define VCAM_SCENE_COUNT 8

typedef struct VCamDevice {
  DWORD busType;  // 1 parallel port, 2 USB
  DWORD deviceId;
  DWORD infoWord1;
  DWORD infoWord2;
  DWORD portNumber;   // parallel only
  DWORD portAddress;  // parallel only
  DWORD portMode;     // parallel only: 0-5
  DWORD publish;      // VCAM_PUBLISH_...
  // Handed to the host as they stand, all 128 bytes (no terminating zero needed, as from a driver).
  char text1[VCAM_TEXT_SIZE];
  char text2[VCAM_TEXT_SIZE];
  char serial[VCAM_TEXT_SIZE];
} VCamDevice;

typedef struct VCamDeviceStatus {
  DWORD present;
  DWORD gone;        // answers status 18
  DWORD button;      // push-button level (register 42 bit 1)
  DWORD open;        // some process holds the device open
  DWORD generation;  // rises at every plug
  DWORD framesDelivered;
  VCamDevice device;
} VCamDeviceStatus;

// One request as the device received it. For vendor requests direction/request/value/index/length
// are the request's fields; for the other control codes they are 0.
typedef struct VCamLogEntry {
  DWORD device;
  DWORD code;  // the I/O-control code
  DWORD direction;
  DWORD request;
  DWORD value;
  DWORD index;
  DWORD length;
  DWORD status;  // as answered: 0 or 18
} VCamLogEntry;

typedef struct VCamStats {
  DWORD classEnumerations;   // SetupDiGetClassDevsA calls for the camera's interface class
  DWORD lastDriverQuery[3];  // platform, major, minor of the last driver-information request
  DWORD driverQueries;
} VCamStats;

#ifdef __cplusplus
extern "C" {
#endif

// Unplugs every camera and clears the log, the counters, the scene and the pacing.
LONG QRVCAM_API VCamReset(void);
// Plugs a camera into position 0-15 (replacing any camera there). Returns 1, or 0 for a bad index,
// a null description or a bus type other than 1 or 2.
LONG QRVCAM_API VCamPlug(LONG index, const VCamDevice* device);
LONG QRVCAM_API VCamUnplug(LONG index);
LONG QRVCAM_API VCamSetGone(LONG index, LONG gone);
LONG QRVCAM_API VCamSetButton(LONG index, LONG level);
LONG QRVCAM_API VCamGetDeviceStatus(LONG index, VCamDeviceStatus* status);
// Registers of a present camera. Return 1, or 0 (nothing written) for a bad index or pointer.
LONG QRVCAM_API VCamReadRegister(LONG index, LONG reg, DWORD* value);
LONG QRVCAM_API VCamReadToneTable(LONG index, BYTE* table256);
LONG QRVCAM_API VCamReadQuantTable(LONG index, WORD* table128);
// The log keeps the last VCAM_LOG_CAPACITY requests. VCamGetLogCount counts every request since the
// last clear; VCamReadLog copies entries first ... first+count-1 that are still kept and returns
// how many it copied.
LONG QRVCAM_API VCamGetLogCount(void);
LONG QRVCAM_API VCamReadLog(LONG first, VCamLogEntry* entries, LONG count);
LONG QRVCAM_API VCamClearLog(void);
LONG QRVCAM_API VCamSetDriverInfo(LONG driverType, const DWORD* version4);
LONG QRVCAM_API VCamGetStats(VCamStats* stats);
// The scene every camera shows (VCAM_SCENE_...; 0 after VCamReset). VCamSetScene returns 1, or 0
// for an unknown scene, which changes nothing; VCamGetScene returns the scene, or -1 when the
// state cannot be opened.
LONG QRVCAM_API VCamSetScene(LONG scene);
LONG QRVCAM_API VCamGetScene(void);
// The least time between two frames (0 = no pacing).
LONG QRVCAM_API VCamSetPacing(LONG milliseconds);
// Replay: the camera at `index` delivers the bytes of the file at `path` as one of its next frames,
// whatever they hold (a broken or truncated stream too), in the order queued, before it takes its
// scene again. The path is made absolute now, so any process may read the frames. Returns how many
// replayed frames are now waiting (1..VCAM_REPLAY_CAPACITY), or 0 when the queue is full, the path
// is too long or no camera is there. A file that cannot be read when its turn comes is an empty
// frame. Unplugging or plugging the camera empties its queue.
LONG QRVCAM_API VCamQueueReplay(LONG index, LPCSTR path);
LONG QRVCAM_API VCamClearReplay(LONG index);

#ifdef __cplusplus
}
#endif

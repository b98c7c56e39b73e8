// qrcamlib.dll: the camera access library. Plain __stdcall exports with integer results; every
// state is per process. Results are 1 for success and 0 for failure unless a function says
// otherwise.
//
// A front end calls QRAcquireLib (opens the first free camera exclusively and programs it), then
// QRFindQuorel (0: no camera; QRGetQuorelInfo selector 4 tells why), reads the camera's identity with
// QRGetQuorelInfo, applies its settings through the setters, and finally QRReleaseLib.
#pragma once
#include <windows.h>

#ifdef QRCAMLIB_BUILD
#define QRCAMLIB_API WINAPI
#else
#define QRCAMLIB_API DECLSPEC_IMPORT WINAPI
#endif

#define QR_ERROR_NO_CAMERA 17
// A frame read that the camera did not answer (unplugged, or its driver said "gone"): the read's
// result, and selector 4 until QRAcquireLib clears it.
#define QR_ERROR_CAMERA_LOST 18
#define QR_BAD_SELECTOR (-10)
#define QR_MAX_CAMERAS 16
#define QR_TEXT_SIZE 128

#pragma pack(push, 4)
typedef struct QRCameraListEntry {
  LONG cameraId;  // 0: entry unused
  LONG inUse;
  LONG busType;  // 1 parallel port, 2 USB
  LONG infoWord1;
  LONG deviceId;
  LONG portNumber;
  LONG portAddress;
  LONG portMode;  // 0 unidirectional, 1 bidirectional, 2 ECP, 3 EPP8, 4 EPP16, 5 EPP32
  LONG infoWord2;
  char text1[QR_TEXT_SIZE];
  char text2[QR_TEXT_SIZE];
  char serial[QR_TEXT_SIZE];
  char path[QR_TEXT_SIZE];  // up to 16 characters of the device path after its "\\.\" prefix
} QRCameraListEntry;

typedef struct QRDriverInfo {
  DWORD size;        // 24 from QRGetDriverInfo, 0 in the camera list
  DWORD driverType;  // 0 Not Avail, 1 None, 2 Win95, 3 NT, 4 WDM_OSR21, 5 and 6 WDM
  DWORD version[4];
} QRDriverInfo;

typedef struct CameraListInfo {
  DWORD reservedCount;  // always 0
  DWORD cameraCount;
  BYTE reserved[24];
  QRDriverInfo driverInfo;
  QRCameraListEntry cameras[QR_MAX_CAMERAS];
} CameraListInfo;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(QRCameraListEntry) == 548, "camera list entry");
static_assert(sizeof(CameraListInfo) == 8824, "camera list");
extern "C" {
#endif

// Library life cycle and camera identity.
LONG QRCAMLIB_API QRGetLibVersion(WORD* version4);
LONG QRCAMLIB_API QRAcquireLib(void);
LONG QRCAMLIB_API QRReleaseLib(void);
LONG QRCAMLIB_API QRFindQuorel(void);
// Selectors: 1 InfoWord1, bus type, 0 (three words); 2 port number, address, mode; 3 nothing;
// 4 last error; 5 serial text (128 bytes); 6 device identifier. Other selectors: -10.
LONG QRCAMLIB_API QRGetQuorelInfo(LONG selector, void* output);
LONG QRCAMLIB_API QRGetDriverInfo(QRDriverInfo* info, LONG size);
LONG QRCAMLIB_API QRGetCamList(CameraListInfo* list);  // returns 0 (also after filling the list)
LONG QRCAMLIB_API QRAcquireCam(LONG cameraId);
LONG QRCAMLIB_API QRReleaseCam(LONG unused);

// Camera parameters.
LONG QRCAMLIB_API QRSetAGCMode(LONG mode);
LONG QRCAMLIB_API QRSetAutoBias(LONG value);
LONG QRCAMLIB_API QRSetAWBEn(LONG enable);
LONG QRCAMLIB_API QRSetBLCEn(LONG level);
LONG QRCAMLIB_API QRSetBlueBal(LONG value);
LONG QRCAMLIB_API QRSetChromaSat(LONG value);
LONG QRCAMLIB_API QRSetFastGrabEn(LONG enable);
LONG QRCAMLIB_API QRSetFrameTime(LONG value);
LONG QRCAMLIB_API QRSetGain(LONG value);
LONG QRCAMLIB_API QRSetGamma(LONG value);
LONG QRCAMLIB_API QRSetInvertEn(LONG enable);
LONG QRCAMLIB_API QRSetLEDEn(LONG enable);
LONG QRCAMLIB_API QRSetMirrorEn(LONG enable);
LONG QRCAMLIB_API QRSetNF(LONG enable);
LONG QRCAMLIB_API QRSetOutputFormat(LONG format);
LONG QRCAMLIB_API QRSetPowerEn(LONG enable);
LONG QRCAMLIB_API QRSetQuality(LONG quality);
LONG QRCAMLIB_API QRSetRedBal(LONG value);
LONG QRCAMLIB_API QRSetResolution(LONG resolution);
LONG QRCAMLIB_API QRSetScanFreq(LONG value);
LONG QRCAMLIB_API QRSetSharpness(LONG value);
LONG QRCAMLIB_API QRSetShutter(LONG value);
LONG QRCAMLIB_API QRSet60HzEn(LONG enable);
LONG QRCAMLIB_API QRSetDefaults(void);

LONG QRCAMLIB_API QRGetAGCMode(void);
LONG QRCAMLIB_API QRGetAutoBias(void);
LONG QRCAMLIB_API QRGetAWBEn(void);
LONG QRCAMLIB_API QRGetBLCEn(void);
LONG QRCAMLIB_API QRGetBlueBal(void);  // reads the camera
LONG QRCAMLIB_API QRGetChromaSat(void);
LONG QRCAMLIB_API QRGetFastGrabEn(void);
LONG QRCAMLIB_API QRGetFrameTime(LONG* value);
LONG QRCAMLIB_API QRGetGain(void);
LONG QRCAMLIB_API QRGetGamma(void);
LONG QRCAMLIB_API QRGetGPIn(void);  // reads the camera: the push-button level, 0 or 1
LONG QRCAMLIB_API QRGetInvertEn(void);
LONG QRCAMLIB_API QRGetLEDEn(void);
LONG QRCAMLIB_API QRGetMirrorEn(void);
LONG QRCAMLIB_API QRGetNF(void);
LONG QRCAMLIB_API QRGetOutputFormat(void);
LONG QRCAMLIB_API QRGetPowerEn(void);
LONG QRCAMLIB_API QRGetQuality(void);
LONG QRCAMLIB_API QRGetRedBal(void);  // reads the camera
LONG QRCAMLIB_API QRGetResolution(void);
LONG QRCAMLIB_API QRGetScanFreq(void);
LONG QRCAMLIB_API QRGetSharpness(void);
LONG QRCAMLIB_API QRGetShutter(void);  // reads the camera
LONG QRCAMLIB_API QRGet60HzEn(void);

LONG QRCAMLIB_API QRSetMMXEn(LONG enable);
LONG QRCAMLIB_API QRGetMMXEn(void);

// Reads the next camera frame into destination, in the format and size chosen with
// QRSetOutputFormat and QRSetResolution; destination must hold output width x output height x 3
// bytes (format 0), x 1 (format 1), x 2 (formats 2 and 4), x 1.5 (format 3) or x 1.125 (format 5).
// Format 4 receives exactly the captured frame (capture width x height x 2 bytes; at resolution 5
// the 640 x 480 capture, 614,400 bytes). Waits at most 3 s for the camera mutex "QR3IO"; without
// it, or when the camera sends nothing usable, the previous picture (or a flat one) is converted.
// Returns 0, or QR_ERROR_CAMERA_LOST when the camera did not answer or its driver said it is gone (the
// picture is then a flat one); with no camera acquired it writes nothing and returns 0.
LONG QRCAMLIB_API QRVideoFrameRead(void* destination);
// Front ends call it until it returns non-zero before a frame read; frames are fetched on demand,
// so it returns 1 at once and does nothing.
LONG QRCAMLIB_API QRGrabFrame(void);

// Kept for callers of earlier camera models; they do nothing.
LONG QRCAMLIB_API QRSetPPAEn(LONG enable);                        // 0
LONG QRCAMLIB_API QRGetPPAEn(void);                               // 0
LONG QRCAMLIB_API QRSetNegativeEn(LONG enable);                   // 1
LONG QRCAMLIB_API QRSetGPOut(LONG value);                         // 1
LONG QRCAMLIB_API QRClearGPIn(LONG value);                        // 1
LONG QRCAMLIB_API QRGetNegativeEn(void);                          // 1
LONG QRCAMLIB_API QRGetGPOut(void);                               // 1
LONG QRCAMLIB_API QRGetPeakVideo(void);                           // 1
LONG QRCAMLIB_API QRWhiteBalance(void);                           // 1
LONG QRCAMLIB_API QRVideoLineRead(LONG a, LONG b);                // 1
LONG QRCAMLIB_API QRVideoFrameDecompress(LONG a, LONG b);         // 1
LONG QRCAMLIB_API QRVideoLineDecompress(LONG a, LONG b, LONG c);  // 1

#ifdef __cplusplus
}
#endif

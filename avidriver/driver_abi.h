// The parts of the Video for Windows installable capture-driver interface that the platform
// headers of this toolchain leave out (they come with the driver kit's msviddrv.h): the message
// numbers above DVM_USER, the structures a capture application hands over with them, and the
// channel and error codes. Layouts are those of the driver kit, pointer-sized fields included.
#pragma once
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

namespace avi {

// DVM_USER + n messages.
constexpr UINT kDvmGetErrorText = 0x4000;
constexpr UINT kDvmGetVideoApiVer = 0x4001;
constexpr UINT kDvmDialog = 0x4064;
constexpr DWORD kVideoDlgQuery = 0x0010;  // DVM_DIALOG: is there a dialog? (not shown)
constexpr UINT kDvmConfigureStorage = 0x4065;
constexpr UINT kDvmGetChannelCaps = 0x4066;
constexpr UINT kDvmUpdate = 0x4067;
constexpr UINT kDvmFrame = 0x40C8;
constexpr UINT kDvmStreamMsgStart = 0x412C;
constexpr UINT kDvmStreamAddBuffer = 0x412C;
constexpr UINT kDvmStreamFini = 0x412D;
constexpr UINT kDvmStreamGetError = 0x412E;
constexpr UINT kDvmStreamGetPosition = 0x412F;
constexpr UINT kDvmStreamInit = 0x4130;
constexpr UINT kDvmStreamPrepareHeader = 0x4131;
constexpr UINT kDvmStreamReset = 0x4132;
constexpr UINT kDvmStreamStart = 0x4133;
constexpr UINT kDvmStreamStop = 0x4134;
constexpr UINT kDvmStreamUnprepareHeader = 0x4135;
constexpr UINT kDvmStreamMsgEnd = 0x418F;

// VIDEO_OPEN_PARMS dwFlags: the channel asked for.
constexpr DWORD kVideoExternalIn = 0x0001;
constexpr DWORD kVideoExternalOut = 0x0002;
constexpr DWORD kVideoIn = 0x0004;
constexpr DWORD kVideoOut = 0x0008;

// This driver's DRV_OPEN answers; the low four bits are the channel's flag above.
constexpr DWORD_PTR kExternalInId = 0x3801;
constexpr DWORD_PTR kVideoInId = 0x3804;

// DVM_CONFIGURESTORAGE flags.
constexpr DWORD kConfigureStorageSet = 0x1000;
constexpr DWORD kConfigureStorageGet = 0x2000;

// The fccType of a capture open.
constexpr DWORD kFccVcap = mmioFOURCC('v', 'c', 'a', 'p');

#pragma pack(push, 8)
struct VideoOpenParms {
  DWORD dwSize;
  DWORD fccType;
  DWORD fccComp;
  DWORD dwVersion;
  DWORD dwFlags;
  DWORD dwError;
  LPVOID pV1Reserved;
  LPVOID pV2Reserved;
  DWORD dnDevNode;
};

struct VideoStreamInitParms {
  DWORD dwMicroSecPerFrame;
  DWORD_PTR dwCallback;
  DWORD_PTR dwCallbackInst;
  DWORD dwFlags;
  DWORD_PTR hVideo;
};

struct VideoConfigParms {
  LPDWORD lpdwReturn;
  LPVOID lpData1;
  DWORD dwSize1;
  LPVOID lpData2;
  DWORD dwSize2;
};

struct VideoGetErrorTextParms {
  DWORD dwError;
  LPSTR lpText;
  DWORD dwLength;
};
#pragma pack(pop)

#if !defined(_WIN64)
static_assert(sizeof(VideoOpenParms) == 36, "VIDEO_OPEN_PARMS");
static_assert(sizeof(VideoStreamInitParms) == 20, "VIDEO_STREAM_INIT_PARMS");
static_assert(sizeof(VideoConfigParms) == 20, "VIDEOCONFIGPARMS");
#endif

}  // namespace avi

// winmm's DriverCallback, which the platform headers declare only in the driver kit.
extern "C" DECLSPEC_IMPORT BOOL WINAPI DriverCallback(DWORD_PTR dwCallback, DWORD dwFlags, HDRVR hDevice, DWORD dwMsg,
                                                      DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2);

// DriverProc: the installable-driver messages, the open and close of the two channels (external
// input 0x3801, video input 0x3804) with the camera's start-up, and the dispatch of the video
// capture messages by the channel in the low four bits of the driver identifier.
#include "driver_proc.h"

#include <cstdio>

#include "dialogs.h"
#include "driver_values.h"
#include "per_frame_hooks.h"
#include "qrcamlib.h"
#include "quorelreg.h"

namespace avi {

namespace {

DriverInstance g_driver;

constexpr WORD kDriverVersion[4] = {6, 9, 1, 80};

DWORD channelOf(DWORD_PTR driverId) { return static_cast<DWORD>(driverId & 0xF); }
bool isChannelId(DWORD_PTR driverId) { return driverId > 1; }

void readCameraIdentity(DriverInstance& driver) {
  LONG info[3] = {0, 0, 0};
  QRGetQuorelInfo(1, info);
  driver.connectionType = static_cast<BYTE>(info[1]);
  if (driver.connectionType == 1) {
    LONG port[3] = {0, 0, 0};
    QRGetQuorelInfo(2, port);
    driver.portNumber = static_cast<BYTE>(port[0]);
    driver.portAddress = static_cast<DWORD>(port[1]);
    driver.portMode = static_cast<BYTE>(port[2]);
  }
}

// The first open of a client: settings, camera, configuration. Later opens find it done.
bool startCamera(DriverInstance& driver, DWORD& error) {
  if (driver.initialised) return true;
  driver.cameraPresent = false;
  driver.powered = false;
  driver.frame.frameReady = false;
  driver.profile[AVI_VALUE("LED Enable")] = 1;
  driver.profile[AVI_VALUE("LED Mode")] = 3;
  driver.outOfBand = OutOfBandState{};
  driver.portAddress = 0;
  driver.portMode = 0;
  driver.portNumber = 1;
  driver.profileIndex = 0;

  TQRViewIO& store = theSettingsStore();
  store.loadFactoryDefaults();
  driver.live[AVI_VALUE("Mirror Preview")] = driver.profile[AVI_VALUE("Mirror Preview")];
  driver.live[AVI_VALUE("Flip Preview")] = driver.profile[AVI_VALUE("Flip Preview")];
  store.loadWithRevisionCheck();
  driver.live = driver.profile;
  rebuildFormat(driver.format, driver.profile);

  driver.libraryStatus = QRAcquireLib();
  if (driver.libraryStatus == 1) {
    QRSetMMXEn(driver.mmxRequested);
    driver.mmxState = QRGetMMXEn();
    QRSetPPAEn(3);
    if (QRFindQuorel()) {
      driver.cameraPresent = true;
      readCameraIdentity(driver);
      driver.noiseFilter = 5;
    } else {
      QRReleaseLib();
    }
  }
  if (driver.libraryStatus == 0) {
    error = DV_ERR_ALLOCATED;
    return false;
  }
  if (!driver.cameraPresent) {
    error = DV_ERR_NOTDETECTED;
    return false;
  }
  QRSetPowerEn(1);
  driver.powered = true;
  applySettings(driver);
  if (driver.profile[AVI_VALUE("LED Enable")]) QRSetLEDEn(driver.profile[AVI_VALUE("LED Mode")]);
  ExtRegSaveString(kKeyName, nullptr, "Camera Type", driver.connectionType == 1 ? "LPT" : "USB");
  driver.initialised = true;
  return true;
}

LRESULT openChannel(DriverInstance& driver, VideoOpenParms& parms) {
  parms.dwError = DV_ERR_OK;
  const DWORD channel = parms.dwFlags & 0xF;
  WORD* opens = channel == kVideoExternalIn ? &driver.externalInOpens
                : channel == kVideoIn       ? &driver.videoInOpens
                                            : nullptr;
  if (!opens || *opens >= 1) {
    parms.dwError = DV_ERR_ALLOCATED;
    return 0;
  }
  ++*opens;
  DWORD error = DV_ERR_OK;
  if (!startCamera(driver, error)) {
    // A start that failed leaves the channel closed, so that the next open tries again.
    --*opens;
    parms.dwError = error;
    return 0;
  }
  return channel == kVideoExternalIn ? kExternalInId : kVideoInId;
}

// The last channel closed: dialogs told to cancel, camera off and released.
void closeLastChannel(DriverInstance& driver) {
  driver.initialised = false;
  closeDialogs(driver);
  waitForDeliveries(driver);
  if (driver.cameraPresent) {
    driver.powered = false;
    driver.frame.frameReady = false;
    QRSetLEDEn(0);
    QRSetPowerEn(0);
    QRReleaseLib();
  }
  outOfBandSwitchOff();
}

DWORD closeChannel(DriverInstance& driver, DWORD channel) {
  if (channel == kVideoExternalIn) {
    if (driver.externalInOpens) --driver.externalInOpens;
  } else if (channel == kVideoIn) {
    if (streamBusy(driver)) return DV_ERR_STILLPLAYING;
    if (driver.videoInOpens) --driver.videoInOpens;
  }
  if (driver.externalInOpens == 0 && driver.videoInOpens == 0 && driver.initialised) closeLastChannel(driver);
  return DV_ERR_OK;
}

void showVersionBox() {
  WORD library[4] = {0, 0, 0, 0};
  QRGetLibVersion(library);
  char text[160];
  std::snprintf(text, sizeof text, "Digital Camera AVI Version %d.%d.%d.%d, Lib Version %d.%d.%d.%d", kDriverVersion[0],
                kDriverVersion[1], kDriverVersion[2], kDriverVersion[3], library[0], library[1], library[2],
                library[3]);
  MessageBoxExA(nullptr, text, kCaption, MB_SYSTEMMODAL, 0);
}

DWORD errorText(const DriverInstance& driver, LPARAM lParam1) {
  VideoGetErrorTextParms* parms = reinterpret_cast<VideoGetErrorTextParms*>(lParam1);
  if (!parms || !parms->lpText || parms->dwLength == 0) return DV_ERR_PARAM1;
  const int length = parms->dwLength > 0x7FFF ? 0x7FFF : static_cast<int>(parms->dwLength);
  return LoadStringA(driver.moduleHandle, LOWORD(parms->dwError), parms->lpText, length) > 0 ? DV_ERR_OK
                                                                                             : DV_ERR_PARAM1;
}

// Under the frame lock: a frame being read on another thread reads the same settings and the
// settings library's one current key.
DWORD configureStorage(DriverInstance& driver, DWORD flags) {
  compat::Locked hold(driver.frameLock);
  if (flags & kConfigureStorageGet) {
    theSettingsStore().loadWithRevisionCheck();
  } else if (flags & kConfigureStorageSet) {
    theSettingsStore().saveWithCameraValues();
  } else {
    return DV_ERR_FLAGS;
  }
  return DV_ERR_OK;
}

DWORD channelCaps(DWORD channel, LPARAM lParam1) {
  if (CHANNEL_CAPS* caps = reinterpret_cast<CHANNEL_CAPS*>(lParam1)) caps->dwFlags = 0;
  return channel == kVideoExternalIn || channel == kVideoIn ? DV_ERR_OK : DV_ERR_NOTSUPPORTED;
}

// The stream messages of the external channels; the video-input channel's go to streaming.cpp.
DWORD channelStreamMessage(DriverInstance& driver, DWORD channel, UINT message, LPARAM lParam1, LPARAM lParam2) {
  if (channel == kVideoExternalIn) {
    if (message == kDvmStreamInit) {
      compat::Locked hold(driver.frameLock);
      prepareFrame(driver);
      return DV_ERR_OK;
    }
    return message == kDvmStreamFini ? DV_ERR_OK : DV_ERR_NOTSUPPORTED;
  }
  if (channel != kVideoIn || driver.profile[AVI_VALUE("Stream Enable")] == 0) return DV_ERR_NOTSUPPORTED;
  return streamMessage(driver, message, lParam1, lParam2);
}

DWORD channelMessage(DriverInstance& driver, DWORD_PTR driverId, UINT message, LPARAM lParam1, LPARAM lParam2) {
  const DWORD channel = channelOf(driverId);
  const DWORD flags = static_cast<DWORD>(lParam1);
  switch (message) {
    case kDvmGetErrorText:
      return errorText(driver, lParam1);
    case kDvmGetVideoApiVer:
      if (!lParam1) return DV_ERR_PARAM1;
      *reinterpret_cast<DWORD*>(lParam1) = 3;
      return DV_ERR_OK;
    case DVM_PALETTE:
      return channel == kVideoIn ? paletteMessage(flags, lParam2) : DV_ERR_NOTSUPPORTED;
    case DVM_FORMAT:
      return channel == kVideoIn ? formatMessage(driver.format, driver.profile, flags, lParam2) : DV_ERR_NOTSUPPORTED;
    case DVM_PALETTERGB555:
    case DVM_SRC_RECT:
    case DVM_DST_RECT:
      return DV_ERR_NOTSUPPORTED;
    case kDvmDialog:
      return dialogMessage(driver, channel, reinterpret_cast<HWND>(lParam1), static_cast<DWORD>(lParam2));
    case kDvmConfigureStorage:
      return configureStorage(driver, static_cast<DWORD>(lParam2));
    case kDvmGetChannelCaps:
      return channelCaps(channel, lParam1);
    case kDvmFrame:
      return channel == kVideoIn ? singleFrame(driver, lParam1) : DV_ERR_NOTSUPPORTED;
    default:
      if (message >= kDvmStreamMsgStart && message <= kDvmStreamMsgEnd) {
        return channelStreamMessage(driver, channel, message, lParam1, lParam2);
      }
      return DV_ERR_NOTSUPPORTED;
  }
}

}  // namespace

DriverInstance& theDriver() { return g_driver; }

LRESULT driverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2) {
  DriverInstance& instance = theDriver();
  switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_QUERYCONFIGURE:
    case DRV_INSTALL:
    case DRV_REMOVE:
      return 1;
    case DRV_FREE:
      waitForDeliveries(instance);
      return 1;
    case DRV_OPEN: {
      VideoOpenParms* parms = reinterpret_cast<VideoOpenParms*>(lParam2);
      if (!parms) return 1;
      if (parms->fccType != kFccVcap) return 0;
      return openChannel(instance, *parms);
    }
    case DRV_CLOSE:
      if (!isChannelId(driverId)) return 1;
      return closeChannel(instance, channelOf(driverId)) == DV_ERR_OK ? 1 : 0;
    case DRV_CONFIGURE:
      showVersionBox();
      return 1;
    default:
      if (!isChannelId(driverId)) return DefDriverProc(driverId, driver, message, lParam1, lParam2);
      return channelMessage(instance, driverId, message, lParam1, lParam2);
  }
}

}  // namespace avi

// DS_Entry's steps, the control triplets and the opening and closing of the source.
#include "twain_source.h"

#include <cstring>
#include <new>

#include "control_panel.h"
#include "proc_address.h"
#include "qrcamlib.h"

namespace twain {

namespace {

void copyText(TW_STR32 destination, const char* text) {
  std::strncpy(destination, text, sizeof(TW_STR32) - 1);
  destination[sizeof(TW_STR32) - 1] = '\0';
}

void fillOwnIdentity(TW_IDENTITY& own) {
  std::memset(&own, 0, sizeof own);
  own.Id = 0;
  own.Version.MajorNum = 1;
  own.Version.MinorNum = 49;
  own.Version.Language = TWLG_USA;
  own.Version.Country = TWCY_USA;
  copyText(own.Version.Info, "Version 6.9.1.49");
  own.ProtocolMajor = TWON_PROTOCOLMAJOR;
  own.ProtocolMinor = TWON_PROTOCOLMINOR;
  own.SupportedGroups = DG_CONTROL | DG_IMAGE;
  copyText(own.Manufacturer, "Orvane Imaging Inc. ");
  copyText(own.ProductFamily, "Quorel");
  copyText(own.ProductName, "Quorel Twain Driver 6.9.1.49");
}

}  // namespace

void traceLine(const char*) {}
void traceFailure(int, TW_UINT16) {}

void traceValue(const char* format, long value) {
  // One buffer for every formatted line; the formats are ours and short.
  static char buffer[128];
  wsprintfA(buffer, format, value);
  traceLine(buffer);
}

TwainSource& theSource() {
  static TwainSource source;
  return source;
}

TwainSource::TwainSource() : settings_(profiles::kTwainLayout) {}

void TwainSource::attach(HINSTANCE instance) {
  instance_ = instance;
  if (identityFilled_) return;
  application_.Id = 0;
  fillOwnIdentity(own_);
  identityFilled_ = true;
}

TW_UINT16 TwainSource::entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  // Nothing may leave the DLL but a return code: an application cannot catch what we throw.
  try {
    return dispatch(origin, dg, dat, msg, data);
  } catch (...) {
    return fail(1, TWCC_LOWMEMORY);
  }
}

TW_UINT16 TwainSource::fail(int site, TW_UINT16 condition) {
  condition_ = condition;
  traceFailure(site, condition);
  return TWRC_FAILURE;
}

TW_UINT16 TwainSource::dispatch(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  // While one application holds the source, another's calls are refused without touching the
  // session: not even the condition code, which belongs to the holder's next DAT_STATUS.
  if (application_.Id != 0 && (!origin || origin->Id != application_.Id)) {
    traceLine("invalid ap id \r\n");
    return TWRC_FAILURE;
  }
  if (msg == MSG_PROCESSEVENT) return processEvent(data);

  traceLine("Got to else in ds_entry\r\n");
  if (!(dg == DG_CONTROL && dat == DAT_STATUS)) condition_ = TWCC_SUCCESS;
  traceValue("DG = %d\r\n", static_cast<long>(dg));
  traceValue("DAT = %d\r\n", dat);

  TW_UINT16 result;
  if (dg == DG_CONTROL) {
    result = control(origin, dat, msg, data);
  } else if (dg == DG_IMAGE) {
    result = image(dat, msg, data);
  } else {
    traceLine("Got to TWRC_FAIL\r\n");
    result = fail(2, TWCC_BADPROTOCOL);
  }
  traceValue("ds_entry return code = %d\r\n", result);
  return result;
}

TW_UINT16 TwainSource::processEvent(TW_MEMREF data) {
  auto* event = static_cast<TW_EVENT*>(data);
  if (!event || !window_ || !event->pEvent) return TWRC_NOTDSEVENT;
  if (!IsDialogMessageA(window_, static_cast<MSG*>(event->pEvent))) return TWRC_NOTDSEVENT;
  event->TWMessage = MSG_NULL;
  return TWRC_DSEVENT;
}

TW_UINT16 TwainSource::control(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  switch (dat) {
    case DAT_CAPABILITY:
      return capability(msg, data);
    case DAT_IDENTITY:
      return identity(origin, msg, data);
    case DAT_PENDINGXFERS:
      return pendingTransfers(msg, data);
    case DAT_SETUPMEMXFER:
      return setupMemoryTransfer(msg, data);
    case DAT_STATUS:
      return status(msg, data);
    case DAT_USERINTERFACE:
      return userInterface(msg, data);
    case DAT_XFERGROUP:
      return transferGroup(msg, data);
    default:
      return fail(3, TWCC_BADPROTOCOL);
  }
}

TW_UINT16 TwainSource::image(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  switch (dat) {
    case DAT_IMAGEINFO:
      return imageInfo(msg, data);
    case DAT_IMAGELAYOUT:
      return imageLayout(msg, data);
    case DAT_IMAGEMEMXFER:
      return memoryTransfer(msg, data);
    case DAT_IMAGENATIVEXFER:
      return nativeTransfer(msg, data);
    case DAT_IMAGEFILEXFER:
      // File transfer is not offered by ICAP_XFERMECH; an application that tries gets nothing.
      return msg == MSG_GET ? TW_UINT16(TWRC_XFERDONE) : fail(4, TWCC_BADPROTOCOL);
    case DAT_PALETTE8:
      return palette8(msg, data);
    default:
      return fail(5, TWCC_BADPROTOCOL);
  }
}

TW_UINT16 TwainSource::identity(TW_IDENTITY* origin, TW_UINT16 msg, TW_MEMREF data) {
  switch (msg) {
    case MSG_GET:
      if (!data) return fail(10, TWCC_BADVALUE);
      std::memcpy(data, &own_, sizeof own_);
      return TWRC_SUCCESS;
    case MSG_OPENDS:
      traceLine("got to OpenDS\r\n");
      openSource(origin, static_cast<TW_IDENTITY*>(data));
      return TWRC_SUCCESS;
    case MSG_CLOSEDS:
      traceLine("got to CloseDS\r\n");
      closeSource();
      return TWRC_SUCCESS;
    default:
      return fail(11, TWCC_BADPROTOCOL);
  }
}

void TwainSource::openSource(TW_IDENTITY* origin, TW_IDENTITY* managerCopy) {
  if (state_ != 3) {
    fail(20, TWCC_SEQERROR);
    notifyApplication(MSG_CLOSEDSREQ);
    return;
  }
  if (application_.Id != 0) {
    fail(21, TWCC_MAXCONNECTIONS);
    notifyApplication(MSG_CLOSEDSREQ);
  } else {
    // Without the application's identity there is no one to hold the source for or to notify.
    if (!origin) {
      fail(22, TWCC_BADVALUE);
      return;
    }
    application_ = *origin;
    if (managerCopy) own_ = *managerCopy;
    cameraFound_ = FALSE;
    windowUp_ = FALSE;
    settingsKey_ = "Twain";
    loadSettings();
  }

  libraryResult_ = QRAcquireLib();
  if (libraryResult_ != 1) {
    cameraFound_ = FALSE;
    fail(23, TWCC_BUMMER);
    notifyApplication(MSG_CLOSEDSREQ);
    return;
  }
  QRSetPPAEn(3);
  if (!QRFindQuorel()) {
    cameraFound_ = FALSE;
    LONG error = 0;
    QRGetQuorelInfo(4, &error);
    traceValue("camera error = %d\r\n", error);
    fail(24, TWCC_BUMMER);
    notifyApplication(MSG_CLOSEDSREQ);
    return;
  }
  cameraFound_ = TRUE;
  readConnection();
  state_ = 4;
  QRSetPowerEn(1);
  applyCameraSettings();
}

void TwainSource::readConnection() {
  LONG words[3] = {};
  QRGetQuorelInfo(1, words);
  std::memset(&connection_, 0, sizeof connection_);
  connection_.busType = words[1];
  if (connection_.busType == 1) {
    QRGetQuorelInfo(2, connection_.port);
    return;
  }
  QRGetQuorelInfo(3, nullptr);
  QRGetQuorelInfo(6, &connection_.deviceId);
  QRGetQuorelInfo(5, connection_.serial);
  connection_.serial[sizeof connection_.serial - 1] = '\0';
}

void TwainSource::loadSettings() {
  // Start-up of the profile: a missing profile is made from factory values, and one stored at
  // another revision is written back at once as revision 49.
  profiles::startUpProfile(settings_);
}

void TwainSource::applyCameraSettings() {
  QRSetMMXEn(1);
  QRSet60HzEn(settings_[PROFILE_VALUE(profiles::kTwainLayout, "60Hz Power System")]);
  QRSetScanFreq(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Frequency")]);
  QRSetShutter(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Shutter Value")]);
  QRSetGain(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Video Gain")]);
  QRSetChromaSat(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Color Saturation")]);
  QRSetRedBal(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Red Balance")]);
  QRSetBlueBal(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Blue Balance")]);
  QRSetInvertEn(1);
  QRSetMirrorEn(0);
  QRSetGamma(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Gamma Value")]);
  QRSetAGCMode(settings_[PROFILE_VALUE(profiles::kTwainLayout, "AGC Mode")]);
  QRSetAutoBias(settings_[PROFILE_VALUE(profiles::kTwainLayout, "AGC Bias")] * 255 / 100);
  QRClearGPIn(1);
  QRSetQuality(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Image Quality")]);
  QRSetSharpness(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Image Sharpness")]);
  QRSetAWBEn(settings_[PROFILE_VALUE(profiles::kTwainLayout, "AWB Tracking")]);
  QRSetFastGrabEn(0);
  QRSetLEDEn(settings_[PROFILE_VALUE(profiles::kTwainLayout, "LED Enable")]
                 ? settings_[PROFILE_VALUE(profiles::kTwainLayout, "LED Mode")]
                 : 0);
  QRSetNF(40);
}

void TwainSource::closeSource() {
  if (state_ >= 4 && state_ <= 7) {
    application_.Id = 0;
    freeIfHeld(previewImage_);
    freeIfHeld(fullImage_);
    state_ = 3;
  } else {
    fail(30, TWCC_SEQERROR);
  }
  // A panel still up would keep using the camera from its timer: it goes before the library.
  closePanel();
  if (libraryResult_ != 0) {
    if (cameraFound_) {
      QRSetLEDEn(0);
      QRSetPowerEn(0);
    }
    QRReleaseLib();
    libraryResult_ = 0;
  }
}

bool TwainSource::openPanel() {
  panel_ = new (std::nothrow) TwainDialog(*this);
  window_ = panel_ ? panel_->open() : nullptr;
  if (!window_) {
    delete panel_;
    panel_ = nullptr;
    return false;
  }
  windowUp_ = TRUE;
  return true;
}

// The panel's destruction cancels its timer (and waits out a tick being posted) before the
// window goes.
void TwainSource::closePanel() {
  if (!windowUp_) return;
  windowUp_ = FALSE;
  delete panel_;
  panel_ = nullptr;
  window_ = nullptr;
}

void TwainSource::notifyApplication(TW_UINT16 msg) {
  HMODULE manager = LoadLibraryA("TWAIN_32.DLL");
  if (!manager) return;
  auto dsmEntry = compat::procAddress<DSMENTRYPROC>(manager, "DSM_Entry");
  if (dsmEntry) dsmEntry(&own_, &application_, DG_CONTROL, DAT_NULL, msg, nullptr);
  FreeLibrary(manager);
}

TW_UINT16 TwainSource::userInterface(TW_UINT16 msg, TW_MEMREF data) {
  if (msg == MSG_ENABLEDS) {
    if (state_ != 4) return fail(40, TWCC_SEQERROR);
    auto* ui = static_cast<TW_USERINTERFACE*>(data);
    if (!ui) return fail(41, TWCC_BADVALUE);
    state_ = 5;
    showUI_ = ui->ShowUI;
    if (cameraFound_ && showUI_ && !windowUp_) {
      // Without its window the source cannot be used: it stays enabled-able, in state 4.
      if (!openPanel()) {
        state_ = 4;
        return fail(42, TWCC_LOWMEMORY);
      }
    } else if (cameraFound_ && !showUI_) {
      acquireWithoutWindow();
    }
    return TWRC_SUCCESS;
  }
  if (msg == MSG_DISABLEDS) {
    if (!stateIn(5, 7)) return fail(43, TWCC_SEQERROR);
    closePanel();
    state_ = 4;
    return TWRC_SUCCESS;
  }
  return fail(44, TWCC_BADPROTOCOL);
}

void TwainSource::acquireWithoutWindow() {
  for (int i = 0; i < 8; ++i) {
    QRSetQuality(0);
    QRSetFastGrabEn(1);
    QRGrabFrame();
    grabPreviewFrame();
  }
  QRSetQuality(255);
  QRSetFastGrabEn(0);
  QRGrabFrame();
  grabFullFrame();
  announceImage();
}

TW_UINT16 TwainSource::pendingTransfers(TW_UINT16 msg, TW_MEMREF data) {
  auto* pending = static_cast<TW_PENDINGXFERS*>(data);
  switch (msg) {
    case MSG_GET:
      if (!stateIn(4, 7)) return fail(50, TWCC_SEQERROR);
      break;
    case MSG_RESET:
      if (!stateIn(6, 7)) return fail(51, TWCC_SEQERROR);
      state_ = 5;
      break;
    case MSG_ENDXFER:
      break;
    default:
      return fail(52, TWCC_BADPROTOCOL);
  }
  // Only Count is the source's to write; EOJ stays as the application left it.
  if (pending) pending->Count = 0;
  return TWRC_SUCCESS;
}

TW_UINT16 TwainSource::status(TW_UINT16 msg, TW_MEMREF data) {
  if (msg != MSG_GET) return fail(60, TWCC_BADPROTOCOL);
  auto* out = static_cast<TW_STATUS*>(data);
  if (!out) return fail(61, TWCC_BADVALUE);
  out->ConditionCode = condition_;
  out->Reserved = statusReserved_;
  condition_ = TWCC_SUCCESS;
  return TWRC_SUCCESS;
}

TW_UINT16 TwainSource::transferGroup(TW_UINT16 msg, TW_MEMREF data) {
  if (!stateIn(4, 6)) return fail(70, TWCC_SEQERROR);
  switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
    case MSG_RESET: {
      auto* group = static_cast<TW_UINT32*>(data);
      if (!group) return fail(71, TWCC_BADVALUE);
      *group = (*group & 0xffff0000UL) | DG_IMAGE;
      return TWRC_SUCCESS;
    }
    case MSG_SET:
      return TWRC_SUCCESS;
    default:
      return fail(72, TWCC_BADPROTOCOL);
  }
}

}  // namespace twain

// The driver's dialogs, all modal on the thread that sent DVM_DIALOG: the video source dialog in
// its compact and full forms, the format dialog, the timed-profile dialog, and, reached from the
// source dialog, the profile manager and the camera information dialog.
//
// The source dialog works on LiveSettings and the camera at once; OK makes LiveSettings the
// profile, Cancel puts the profile back on the camera. Frames may be read on other threads at the
// same time: every change a dialog makes to the settings or the camera is made under the frame
// lock, so that a frame never sees half of it. The close of the last channel reaches an open
// dialog as the cancel tick (WM_TIMER 0xA5A5); from then on the dialogs leave the camera alone.
#include "dialogs.h"

#include <algorithm>
#include <iterator>

#include "camera_controls.h"
#include "camera_info.h"
#include "controls.h"
#include "dialog.h"
#include "dialog_ids.h"
#include "driver_values.h"
#include "messages.h"
#include "per_frame_hooks.h"
#include "profile_dialogs.h"
#include "qrcamlib.h"
#include "quorelreg.h"
#include "sliders.h"

namespace avi {

namespace {

using profiles::ValueId;

constexpr WPARAM kCancelTimerId = 0xA5A5;
constexpr UINT_PTR kTickTimerId = 1;
constexpr UINT kTickMs = 200;
constexpr const char kHelpFile[] = "QUORELAVI.HLP";

// The sizes the dialogs are kept on the screen with.
constexpr int kSourceWidth = 311, kFullHeight = 405, kCompactHeight = 240;
constexpr int kFormatWidth = 225, kFormatHeight = 186;

// The image sizes by library resolution code, in the order the format dialog lists them.
struct SizeEntry {
  LONG code;
  const char* title;  // in the source dialog's title
  const char* name;   // in the format dialog's list
};
constexpr SizeEntry kSizes[] = {
    {6, " in 128x96 - ", "128 by 96"},   {2, " in 160x120 - ", "160 by 120"}, {4, " in 176x144 - ", "176 by 144"},
    {1, " in 320x240 - ", "320 by 240"}, {3, " in 352x288 - ", "352 by 288"}, {0, " in 640x480 - ", "640 by 480"},
};
// The output formats: the source dialog's title texts by code, the format dialog's list in order.
constexpr const char* kFormatTitles[] = {"RGB24 Color", "8 bit B/W", "RGB555 Color", "YUV12 Color", "YUV16 Color", "YUV9 Color"};
struct FormatEntry {
  LONG code;
  const char* name;
};
constexpr FormatEntry kFormats[] = {{0, "24 bit Color"}, {1, "8 bit B/W"},    {2, "16 bit Color"},
                                    {5, "YUV9 Color"},   {3, "YUV12 Color"}, {4, "YUV16 Color"}};

const ui::Messages& driverMessages() {
  static const ui::Messages messages(kCaption);
  return messages;
}

// DVM_DIALOG's owner: the client window's top child, else the active window, or the active
// window's owner when the client is not the active window.
HWND ownerFor(HWND client) {
  if (client) {
    if (HWND top = GetTopWindow(client)) return top;
  }
  HWND active = GetActiveWindow();
  if (active && client != active) {
    if (HWND owner = reinterpret_cast<HWND>(GetWindowLongPtrA(active, GWLP_HWNDPARENT))) return owner;
  }
  return active;
}

// A stored position kept on the screen for a dialog of that size.
POINT keptOnScreen(LONG left, LONG top, int width, int height) {
  const LONG screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (left > screenWidth - width) left = screenWidth - width;
  if (left < 0) left = 5;
  if (top > screenHeight - height) top = screenHeight - height;
  if (top < 0) top = 5;
  return POINT{left, top};
}

POINT windowPosition(HWND window) {
  RECT frame{};
  GetWindowRect(window, &frame);
  return POINT{frame.left, frame.top};
}

// The LED as the profile has it.
void sendLed(const profiles::ProfileSettings& p) { QRSetLEDEn(p[AVI_VALUE("LED Enable")] ? p[AVI_VALUE("LED Mode")] : 0); }

// ---------------------------------------------------------------------------------------------
// The timed-profile dialog.

std::string timeText(LONG minutes) {
  const LONG hours = minutes / 60, minute = minutes % 60;
  if (hours < 12) return ui::format("%d:%02dAM", static_cast<int>(hours == 0 ? 12 : hours), static_cast<int>(minute));
  return ui::format("%d:%02dPM", static_cast<int>(hours > 12 ? hours - 12 : hours), static_cast<int>(minute));
}

class TimedProfileDialog : public ui::Dialog {
 public:
  explicit TimedProfileDialog(DriverInstance& driver)
      : ui::Dialog(driver.moduleHandle, IDD_TIMED_PROFILES), driver_(driver) {}

 protected:
  bool onInit() override {
    const profiles::ProfileSettings& p = driver_.profile;
    start1_ = p[AVI_VALUE("Timed Profile 1 Start Time")];
    start2_ = p[AVI_VALUE("Timed Profile 2 Start Time")];
    enable_ = p[AVI_VALUE("Timed Profile Enable")];
    camui::setBarRange(hwnd_, IDC_TP_START, kLastMinute, 15, start1_);
    camui::setBarRange(hwnd_, IDC_TP_END, kLastMinute, 15, start2_);
    SetDlgItemTextA(hwnd_, IDC_TP_START_FIELD, timeText(start1_).c_str());
    SetDlgItemTextA(hwnd_, IDC_TP_END_FIELD, timeText(start2_).c_str());
    ui::CheckBox(hwnd_, IDC_TP_ENABLE).setChecked(enable_ != 0);
    // The lists hold the profiles that exist; each entry carries its profile's number, which is
    // what is stored and later loaded (a list position would name another profile after a gap).
    fillList(IDC_TP_PROFILE1, p[AVI_VALUE("Timed Profile 1")]);
    fillList(IDC_TP_PROFILE2, p[AVI_VALUE("Timed Profile 2")]);
    return true;
  }

  bool onCommand(int id, int, HWND) override {
    switch (id) {
      case IDC_TP_ENABLE:
        enable_ = ui::CheckBox(hwnd_, IDC_TP_ENABLE).checked() ? 1 : 0;
        return true;
      case IDC_TP_HELP:
        WinHelpA(hwnd_, kHelpFile, HELP_CONTENTS, 0);
        return true;
      case IDOK:
        accept();
        end(IDOK);
        return true;
      case IDCANCEL: {
        compat::Locked hold(driver_.frameLock);
        driver_.timed.active = timedProfilesActive(driver_);
        end(IDCANCEL);
        return true;
      }
    }
    return false;
  }

  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
    if (message != WM_HSCROLL) return 0;
    handled = true;
    const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
    if (id != IDC_TP_START && id != IDC_TP_END) return 0;
    const LONG position = camui::moveBar(hwnd_, id, wParam, kLastMinute);
    (id == IDC_TP_START ? start1_ : start2_) = position;
    SetDlgItemTextA(hwnd_, id == IDC_TP_START ? IDC_TP_START_FIELD : IDC_TP_END_FIELD, timeText(position).c_str());
    return 0;
  }

 private:
  static constexpr int kLastMinute = 1439;

  void fillList(int id, LONG chosen) {
    ui::ComboBox list(hwnd_, id);
    for (LONG index = 0; index < 9; ++index) {
      std::string name;
      if (!profiles::readProfileName(kKeyName, index, name)) continue;
      const int position = list.add(ui::format("%1d - %s", static_cast<int>(index + 1), name.c_str()), index);
      if (index == chosen) list.select(position);
    }
  }

  LONG chosenProfile(int id, LONG current) const {
    ui::ComboBox list(hwnd_, id);
    const int position = list.selection();
    return position < 0 ? current : static_cast<LONG>(list.data(position));
  }

  void accept() {
    compat::Locked hold(driver_.frameLock);
    const struct {
      ValueId value;
      const char* name;
      LONG chosen;
    } values[] = {
        {AVI_VALUE("Timed Profile Enable"), "Timed Profile Enable", enable_},
        {AVI_VALUE("Timed Profile 1 Start Time"), "Timed Profile 1 Start Time", start1_},
        {AVI_VALUE("Timed Profile 2 Start Time"), "Timed Profile 2 Start Time", start2_},
        {AVI_VALUE("Timed Profile 1"), "Timed Profile 1",
         chosenProfile(IDC_TP_PROFILE1, driver_.profile[AVI_VALUE("Timed Profile 1")])},
        {AVI_VALUE("Timed Profile 2"), "Timed Profile 2",
         chosenProfile(IDC_TP_PROFILE2, driver_.profile[AVI_VALUE("Timed Profile 2")])},
    };
    for (const auto& v : values) {
      // Both copies: the source dialog's OK makes LiveSettings the profile.
      driver_.profile[v.value] = v.chosen;
      driver_.live[v.value] = v.chosen;
      ExtRegSaveVal(kKeyName, nullptr, v.name, v.chosen);
    }
    driver_.timed.active = timedProfilesActive(driver_);
  }

  DriverInstance& driver_;
  LONG start1_ = 0, start2_ = 0, enable_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The source dialog.

// A scroll bar of the source dialog and what it sets.
using camui::Slider;
using camui::SliderField;

const Slider kSharpness = {IDC_SRC_SHARPNESS, IDC_SRC_SHARPNESS_FIELD, AVI_VALUE("Image Sharpness"), 250, 25,
                               SliderField::Percent, &camui::sendSharpness};
const Slider kBias = {IDC_SRC_BRIGHTNESS, IDC_SRC_BRIGHTNESS_FIELD, AVI_VALUE("AGC Bias"), 100, 10,
                          SliderField::Plain, &camui::sendAutoBias};
// The compact form's brightness bar while the automatic gain is off.
const Slider kCompactGain = {IDC_SRC_BRIGHTNESS, IDC_SRC_BRIGHTNESS_FIELD, AVI_VALUE("Video Gain"), 250, 25,
                                 SliderField::Percent, &camui::sendGain};
const Slider kGamma = {IDC_SRC_GAMMA, IDC_SRC_GAMMA_FIELD, AVI_VALUE("Gamma Value"), 255, 10,
                           SliderField::Gamma, &camui::sendGamma};
const Slider kGain = {IDC_SRC_GAIN, IDC_SRC_GAIN_FIELD, AVI_VALUE("Video Gain"), 250, 25, SliderField::Percent,
                          &camui::sendGain};
const Slider kColour = {IDC_SRC_COLOR, IDC_SRC_COLOR_FIELD, AVI_VALUE("Color Saturation"), 250, 25,
                            SliderField::Percent, &camui::sendChroma};
const Slider kRed = {IDC_SRC_RED, IDC_SRC_RED_FIELD, AVI_VALUE("Red Balance"), 250, 25, SliderField::Percent,
                         &camui::sendRed};
const Slider kBlue = {IDC_SRC_BLUE, IDC_SRC_BLUE_FIELD, AVI_VALUE("Blue Balance"), 250, 25, SliderField::Percent,
                          &camui::sendBlue};
const Slider kBacklight = {IDC_SRC_BACKLIGHT, IDC_SRC_BACKLIGHT_FIELD, AVI_VALUE("BLC Value"), 250, 25,
                               SliderField::Percent, &camui::sendBacklight};

const Slider* const kFullBars[] = {&kSharpness, &kBias, &kGamma, &kGain, &kColour, &kRed, &kBlue, &kBacklight};

class SourceDialog : public ui::Dialog, public profiles::ProfileRequests {
 public:
  SourceDialog(DriverInstance& driver, bool full)
      : ui::Dialog(driver.moduleHandle, full ? IDD_SOURCE_FULL : IDD_SOURCE_COMPACT), driver_(driver), full_(full) {}

 protected:
  bool onInit() override {
    DialogState& dialogs = driver_.dialogs;
    if (full_ && !SetTimer(hwnd_, kTickTimerId, kTickMs, nullptr)) {
      driverMessages().show(hwnd_, "Out of Timers, SnapShot button may be inoperative", MB_ICONEXCLAMATION);
    }
    placeWindow();
    {
      compat::Locked hold(driver_.frameLock);
      if (!dialogs.sourceDialogOpen && !dialogs.sourceLoop) driver_.live = driver_.profile;
    }
    dialogs.sourceLoop = true;
    setTitle();
    fillLists();
    showAll();
    dialogs.sourceDialogWindow = hwnd_;
    dialogs.sourceDialogOpen = true;
    dialogs.keepExposure = false;
    return true;
  }

  bool onCommand(int id, int code, HWND) override {
    switch (id) {
      case IDC_SRC_QUALITY:
        if (code == CBN_SELCHANGE) qualityChosen();
        return true;
      case IDC_SRC_AGC_MODE:
        if (code == CBN_SELCHANGE) gainModeChosen();
        return true;
      case IDC_SRC_LED:
      case IDC_SRC_60HZ:
      case IDC_SRC_MIRROR:
      case IDC_SRC_FLIP:
      case IDC_SRC_AWB_TRACKING:
        if (code == BN_CLICKED) toggled(id);
        return true;
      case IDC_SRC_MANUAL_WB:
        manualWhiteBalance();
        return true;
      case IDC_SRC_CONFIGURATION: {
        profiles::CFGSaveDialog manager(resources(), kKeyName, driverMessages(), kCaption, *this);
        manager.runModal(hwnd_);
        return true;
      }
      case IDC_SRC_TIMED_PROFILES: {
        TimedProfileDialog timed(driver_);
        timed.runModal(hwnd_);
        setTitle();
        return true;
      }
      case IDC_SRC_ABOUT:
        showCameraInformation();
        return true;
      case IDC_SRC_HELP:
        WinHelpA(hwnd_, kHelpFile, HELP_CONTENTS, 0);
        return true;
      case IDC_SRC_MORE:
      case IDC_SRC_LESS:
        switchForm();
        return true;
      case IDOK:
        accept();
        return true;
      case IDCANCEL:
        cancel();
        return true;
    }
    return false;
  }

  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
    if (message == WM_HSCROLL) {
      handled = true;
      scrolled(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), wParam);
    } else if (message == WM_TIMER && wParam == kCancelTimerId) {
      handled = true;
      cancel();
    } else if (message == WM_TIMER && wParam == kTickTimerId) {
      handled = true;
      tick();
    } else if (message == WM_DESTROY) {
      if (full_) KillTimer(hwnd_, kTickTimerId);
    }
    return 0;
  }

  // The profile manager's requests ("Current Profile" already names the profile).
  void loadProfileRequested() override {
    compat::Locked hold(driver_.frameLock);
    theSettingsStore().load();
    putProfileOnCamera(1);
  }
  void factoryDefaultsRequested() override {
    compat::Locked hold(driver_.frameLock);
    theSettingsStore().loadFactoryDefaults();
    putProfileOnCamera(2);
  }
  void saveProfileRequested() override {
    compat::Locked hold(driver_.frameLock);
    driver_.profile = driver_.live;
    theSettingsStore().save();
  }

 private:
  profiles::ProfileSettings& live() { return driver_.live; }
  LONG& setting(ValueId id) { return driver_.live[id]; }
  // Whether the camera may be told anything: not after the last channel has closed.
  bool cameraOn() const { return driver_.powered && driver_.initialised; }

  void placeWindow() {
    const profiles::ProfileSettings& p = driver_.profile;
    LONG left = p[AVI_VALUE("Src Dialog Left")], top = p[AVI_VALUE("Src Dialog Top")];
    if (!full_ && ExtRegGetVal(kKeyName, nullptr, "Installation Test") != 0) {
      top = ExtRegGetVal(kKeyName, nullptr, "Test Y Offset");
      left = GetSystemMetrics(SM_CXSCREEN) - ExtRegGetVal(kKeyName, nullptr, "Test X Offset") - kSourceWidth;
    }
    const POINT at = keptOnScreen(left, top, kSourceWidth, full_ ? kFullHeight : kCompactHeight);
    SetWindowPos(hwnd_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void storePosition() {
    const POINT at = windowPosition(hwnd_);
    for (profiles::ProfileSettings* p : {&driver_.profile, &driver_.live}) {
      (*p)[AVI_VALUE("Src Dialog Left")] = at.x;
      (*p)[AVI_VALUE("Src Dialog Top")] = at.y;
    }
  }

  void setTitle() {
    const LONG resolution = driver_.format.libraryResolution, format = driver_.format.libraryFormat;
    std::string title = "Camera";
    for (const SizeEntry& size : kSizes) {
      if (size.code == resolution) title += size.title;
    }
    if (format >= 0 && format < static_cast<LONG>(std::size(kFormatTitles))) title += kFormatTitles[format];
    SetWindowTextA(hwnd_, title.c_str());
  }

  void fillLists() {
    ui::ComboBox quality(hwnd_, IDC_SRC_QUALITY);
    if (camui::onlyHighQuality(driver_.format.libraryResolution, driver_.format.libraryFormat)) {
      quality.add(camui::kQualityTexts[camui::kQualityCount - 1]);
    } else {
      for (const char* text : camui::kQualityTexts) quality.add(text);
    }
    if (full_) {
      ui::ComboBox modes(hwnd_, IDC_SRC_AGC_MODE);
      for (const char* text : camui::kAgcModeTexts) modes.add(text);
    }
  }

  const Slider& compactBrightness() { return setting(AVI_VALUE("ASC Enable")) ? kBias : kCompactGain; }

  void showBar(const Slider& c) { camui::showSlider(hwnd_, c, setting(c.value)); }

  // Every control from LiveSettings.
  void showAll() {
    const int qualityItem =
        camui::itemOfQuality(setting(AVI_VALUE("Image Quality")), driver_.format.libraryResolution, driver_.format.libraryFormat);
    ui::ComboBox(hwnd_, IDC_SRC_QUALITY).select(qualityItem);
    if (!full_) {
      showBar(kSharpness);
      showBar(compactBrightness());
      showBar(kColour);
      return;
    }
    for (const Slider* c : kFullBars) showBar(*c);
    ui::ComboBox(hwnd_, IDC_SRC_AGC_MODE).select(camui::agcItem(setting(AVI_VALUE("ASC Enable")), 0));
    const struct {
      int id;
      ValueId value;
    } checks[] = {{IDC_SRC_LED, AVI_VALUE("LED Enable")},
                  {IDC_SRC_60HZ, AVI_VALUE("60Hz Power System")},
                  {IDC_SRC_MIRROR, AVI_VALUE("Mirror Preview")},
                  {IDC_SRC_FLIP, AVI_VALUE("Flip Preview")},
                  {IDC_SRC_AWB_TRACKING, AVI_VALUE("AWB Tracking")}};
    for (const auto& check : checks) ui::CheckBox(hwnd_, check.id).setChecked(setting(check.value) != 0);
    refreshShutter();
  }

  // The shutter as the camera has it, and which of shutter/gain or brightness may be moved.
  void refreshShutter() {
    if (!full_) return;
    LONG shutter = setting(AVI_VALUE("Shutter Value"));
    if (cameraOn()) shutter = setting(AVI_VALUE("Shutter Value")) = QRGetShutter();
    camui::setNumberField(hwnd_, IDC_SRC_SHUTTER_FIELD, camui::shutterSpeed(shutter));
    const bool automatic = setting(AVI_VALUE("ASC Enable")) != 0;
    EnableWindow(item(IDC_SRC_BRIGHTNESS), automatic);
    for (int id : {IDC_SRC_SHUTTER, IDC_SRC_SHUTTER_FIELD, IDC_SRC_GAIN, IDC_SRC_GAIN_FIELD}) {
      EnableWindow(item(id), !automatic);
    }
    if (!automatic) camui::setBarRange(hwnd_, IDC_SRC_SHUTTER, camui::kShutterPositions - 1, 25, camui::positionForShutter(shutter));
  }

  void scrolled(int id, WPARAM request) {
    if (id == IDC_SRC_SHUTTER) {
      shutterMoved(request);
      return;
    }
    const Slider* control = nullptr;
    if (full_) {
      control = camui::sliderOf(kFullBars, id);
    } else {
      const Slider* const compact[] = {&kSharpness, &kColour, &compactBrightness()};
      control = camui::sliderOf(compact, id);
    }
    if (!control) return;
    const LONG value = camui::moveBar(hwnd_, id, request, control->last);
    compat::Locked hold(driver_.frameLock);
    camui::applySlider(hwnd_, *control, driver_.live, value, cameraOn());
  }

  void shutterMoved(WPARAM request) {
    const int position = camui::moveBar(hwnd_, IDC_SRC_SHUTTER, request, camui::kShutterPositions - 1);
    const LONG shutter = camui::shutterAtPosition(position);
    {
      compat::Locked hold(driver_.frameLock);
      if (cameraOn() && shutter != QRGetShutter()) {
        const LONG frequency = camui::scanFrequencyForShutter(shutter);
        setting(AVI_VALUE("Frequency")) = frequency;
        QRSetScanFreq(frequency);
        QRSetShutter(shutter);
      }
      refreshShutter();
    }
  }

  void qualityChosen() {
    const int item = ui::ComboBox(hwnd_, IDC_SRC_QUALITY).selection();
    if (item < 0) return;
    const LONG quality = camui::qualityOfItem(item, driver_.format.libraryResolution, driver_.format.libraryFormat);
    compat::Locked hold(driver_.frameLock);
    setting(AVI_VALUE("Image Quality")) = quality;
    if (cameraOn()) QRSetQuality(quality);
  }

  void gainModeChosen() {
    const int item = ui::ComboBox(hwnd_, IDC_SRC_AGC_MODE).selection();
    if (item < 0 || item >= camui::kAgcModeCount) return;
    compat::Locked hold(driver_.frameLock);
    const LONG mode = camui::kAgcModes[item];
    setting(AVI_VALUE("ASC Enable")) = mode;
    if (cameraOn()) {
      if (mode == 0) {
        QRSetAGCMode(0);
        setting(AVI_VALUE("Video Gain")) = QRGetGain();
        showBar(kGain);
      } else {
        QRSetAGCMode(driver_.frame.buttonHold ? 0 : mode);
      }
    }
    refreshShutter();
  }

  void toggled(int id) {
    const bool on = ui::CheckBox(hwnd_, id).checked();
    compat::Locked hold(driver_.frameLock);
    const bool camera = cameraOn();
    switch (id) {
      case IDC_SRC_LED:
        setting(AVI_VALUE("LED Enable")) = on;
        if (camera) QRSetLEDEn(on ? setting(AVI_VALUE("LED Mode")) : 0);
        break;
      case IDC_SRC_60HZ:
        setting(AVI_VALUE("60Hz Power System")) = on;
        if (camera) QRSet60HzEn(on);
        setting(AVI_VALUE("Frequency")) = on ? 6000 : 5000;
        refreshShutter();
        break;
      case IDC_SRC_MIRROR:
        setting(AVI_VALUE("Mirror Preview")) = on;
        break;
      case IDC_SRC_FLIP:
        setting(AVI_VALUE("Flip Preview")) = on;
        break;
      case IDC_SRC_AWB_TRACKING:
        setting(AVI_VALUE("AWB Tracking")) = on;
        if (camera) QRSetAWBEn(on);
        break;
    }
  }

  void manualWhiteBalance() {
    compat::Locked hold(driver_.frameLock);
    if (!cameraOn()) return;
    if (!driver_.frame.frameReady) prepareFrame(driver_);
    QRWhiteBalance();
    const LONG red = std::min<LONG>(QRGetRedBal(), 250), blue = std::min<LONG>(QRGetBlueBal(), 250);
    QRSetRedBal(red);
    QRSetBlueBal(blue);
    setting(AVI_VALUE("Red Balance")) = red;
    setting(AVI_VALUE("Blue Balance")) = blue;
    showBar(kRed);
    showBar(kBlue);
  }

  void tick() {
    compat::Locked hold(driver_.frameLock);
    if (driver_.timed.refresh || driver_.dialogs.profileRefresh) {
      driver_.timed.refresh = false;
      driver_.dialogs.profileRefresh = 0;
      showAll();
    }
    if (!cameraOn()) return;
    if (setting(AVI_VALUE("AWB Tracking"))) {
      follow(kRed, QRGetRedBal());
      follow(kBlue, QRGetBlueBal());
    }
    if (setting(AVI_VALUE("ASC Enable"))) {
      follow(kGain, QRGetGain());
      LONG& shutter = setting(AVI_VALUE("Shutter Value"));
      const LONG now = QRGetShutter();
      if (now != shutter) camui::setNumberField(hwnd_, IDC_SRC_SHUTTER_FIELD, camui::shutterSpeed(now));
      shutter = now;
    }
  }

  // A value the camera sets itself, taken and shown when it has changed (the tick would otherwise
  // repaint the controls five times a second).
  void follow(const Slider& c, LONG value) {
    if (setting(c.value) == value) return;
    setting(c.value) = value;
    ui::ScrollBar(hwnd_, c.bar).setPosition(value);
    camui::showSliderField(hwnd_, c, value);
  }

  // After a profile load or the factory values (under the frame lock).
  void putProfileOnCamera(LONG refresh) {
    if (cameraOn()) applySettings(driver_);
    driver_.live = driver_.profile;
    if (cameraOn()) sendLed(driver_.profile);
    driver_.dialogs.profileRefresh = refresh;
  }

  void showCameraInformation() {
    camui::CameraInfoContent content;
    content.caption = "Digital Camera Information";
    content.versionLine = ui::format("Digital Camera AVI Version %d.%d.%d.%d", 6, 9, 1, 80);
    content.libraryField = 888;
    content.driverField = 889;
    camui::CameraConnection& connection = content.connection;
    connection.found = driver_.cameraPresent;
    connection.parallel = driver_.connectionType == 1;
    connection.portNumber = driver_.portNumber;
    connection.portAddress = static_cast<LONG>(driver_.portAddress);
    connection.portMode = driver_.portMode;
    if (connection.found && !connection.parallel && cameraOn()) {
      char serial[64] = "";
      compat::Locked hold(driver_.frameLock);
      QRGetQuorelInfo(5, serial);
      serial[sizeof serial - 1] = 0;
      connection.serial = serial;
    }
    // Without a camera only the connection line says so.
    if (!connection.found) content.leftOut.push_back(102);
    content.mmxCapable = driver_.mmxState != 0;
    camui::AboutDlg dialog(resources(), content);
    dialog.runModal(hwnd_);
  }

  void switchForm() {
    driver_.dialogs.sourceDialogOpen = false;
    driver_.dialogs.fullForm = !driver_.dialogs.fullForm;
    storePosition();
    end(IDCANCEL);
  }

  void accept() {
    DialogState& dialogs = driver_.dialogs;
    dialogs.sourceDialogOpen = false;
    dialogs.sourceLoop = false;
    {
      compat::Locked hold(driver_.frameLock);
      // The format is the format dialog's: LiveSettings may hold the codes of before.
      const LONG resolution = driver_.profile[AVI_VALUE("Resolution")], format = driver_.profile[AVI_VALUE("Format")];
      driver_.profile = driver_.live;
      driver_.profile[AVI_VALUE("Resolution")] = resolution;
      driver_.profile[AVI_VALUE("Format")] = format;
      storePosition();
      // The stored format stays as it is: this dialog does not choose it.
      profiles::ProfileSettings stored(profiles::kCaptureDriverLayout);
      profiles::loadProfile(stored);
      profiles::ProfileSettings toSave = driver_.profile;
      toSave[AVI_VALUE("Resolution")] = stored[AVI_VALUE("Resolution")];
      toSave[AVI_VALUE("Format")] = stored[AVI_VALUE("Format")];
      profiles::saveProfile(toSave);
      driver_.profileIndex = toSave.currentProfile;
    }
    end(IDOK);
  }

  void cancel() {
    DialogState& dialogs = driver_.dialogs;
    dialogs.sourceDialogOpen = false;
    dialogs.sourceLoop = false;
    {
      compat::Locked hold(driver_.frameLock);
      dialogs.keepExposure = true;
      driver_.live = driver_.profile;
      if (cameraOn()) {
        applySettings(driver_);
        if (full_) sendLed(driver_.profile);
      }
      storePosition();
    }
    end(IDCANCEL);
  }

  DriverInstance& driver_;
  bool full_;
};

DWORD sourceDialogLoop(DriverInstance& driver, HWND owner) {
  DialogState& dialogs = driver.dialogs;
  dialogs.sourceLoop = false;
  dialogs.sourceDialogOpen = false;
  do {
    SourceDialog dialog(driver, dialogs.fullForm);
    if (dialog.runModal(owner) == -1) {
      dialogs.sourceLoop = false;
      dialogs.sourceDialogOpen = false;
    }
  } while (dialogs.sourceLoop);
  dialogs.sourceDialogWindow = nullptr;
  return DV_ERR_OK;
}

// ---------------------------------------------------------------------------------------------
// The format dialog.

class FormatDialog : public ui::Dialog {
 public:
  explicit FormatDialog(DriverInstance& driver) : ui::Dialog(driver.moduleHandle, IDD_FORMAT), driver_(driver) {}

 protected:
  bool onInit() override {
    DialogState& dialogs = driver_.dialogs;
    const profiles::ProfileSettings& p = driver_.profile;
    dialogs.resolutionCode = p[AVI_VALUE("Resolution")];
    dialogs.formatCode = p[AVI_VALUE("Format")];
    const POINT at = keptOnScreen(p[AVI_VALUE("Format Dialog Left")], p[AVI_VALUE("Format Dialog Top")],
                                  kFormatWidth, kFormatHeight);
    SetWindowPos(hwnd_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextA(hwnd_, "Camera Format Controls");
    ui::ComboBox sizes(hwnd_, IDC_FMT_SIZE), formats(hwnd_, IDC_FMT_COLOR);
    int sizeItem = 0, formatItem = 0;
    for (const SizeEntry& size : kSizes) {
      const int position = sizes.add(size.name, size.code);
      if (size.code == dialogs.resolutionCode) sizeItem = position;
    }
    for (const FormatEntry& format : kFormats) {
      const int position = formats.add(format.name, format.code);
      if (format.code == dialogs.formatCode) formatItem = position;
    }
    sizes.select(sizeItem);
    formats.select(formatItem);
    dialogs.formatDialogWindow = hwnd_;
    dialogs.formatDialogOpen = true;
    return true;
  }

  bool onCommand(int id, int code, HWND) override {
    DialogState& dialogs = driver_.dialogs;
    switch (id) {
      case IDC_FMT_SIZE:
      case IDC_FMT_COLOR:
        if (code == CBN_SELCHANGE) {
          ui::ComboBox list(hwnd_, id);
          const int position = list.selection();
          if (position >= 0) (id == IDC_FMT_SIZE ? dialogs.resolutionCode : dialogs.formatCode) = list.data(position);
        }
        return true;
      case IDC_FMT_HELP:
        WinHelpA(hwnd_, kHelpFile, HELP_CONTENTS, 0);
        return true;
      case IDOK: {
        compat::Locked hold(driver_.frameLock);
        storePosition();
        driver_.profile[AVI_VALUE("Resolution")] = dialogs.resolutionCode;
        driver_.profile[AVI_VALUE("Format")] = dialogs.formatCode;
        theSettingsStore().save();
        dialogs.formatDialogOpen = false;
        end(IDOK);
        return true;
      }
      case IDCANCEL:
        cancel();
        return true;
    }
    return false;
  }

  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) override {
    if (message == WM_TIMER && wParam == kCancelTimerId) {
      handled = true;
      cancel();
    }
    return 0;
  }

 private:
  void storePosition() {
    const POINT at = windowPosition(hwnd_);
    driver_.profile[AVI_VALUE("Format Dialog Left")] = at.x;
    driver_.profile[AVI_VALUE("Format Dialog Top")] = at.y;
  }
  void cancel() {
    driver_.dialogs.formatDialogOpen = false;
    {
      compat::Locked hold(driver_.frameLock);
      storePosition();
    }
    end(IDCANCEL);
  }

  DriverInstance& driver_;
};

}  // namespace

DWORD dialogMessage(DriverInstance& driver, DWORD channel, HWND parent, DWORD flags) {
  if (channel != kVideoExternalIn && channel != kVideoIn) return DV_ERR_NOTSUPPORTED;
  if (flags & kVideoDlgQuery) return DV_ERR_OK;
  const HWND owner = ownerFor(parent);
  if (channel == kVideoExternalIn) return sourceDialogLoop(driver, owner);
  FormatDialog dialog(driver);
  dialog.runModal(owner);
  driver.dialogs.formatDialogWindow = nullptr;
  return DV_ERR_OK;
}

void closeDialogs(DriverInstance& driver) {
  DialogState& dialogs = driver.dialogs;
  if (dialogs.sourceDialogOpen) {
    SendMessageA(dialogs.sourceDialogWindow, WM_TIMER, kCancelTimerId, 0);
    dialogs.sourceDialogOpen = false;
  }
  if (dialogs.formatDialogOpen) {
    SendMessageA(dialogs.formatDialogWindow, WM_TIMER, kCancelTimerId, 0);
    dialogs.formatDialogOpen = false;
  }
}

}  // namespace avi

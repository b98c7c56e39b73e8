// The control panel: set-up, the timer's tick with the camera button, acquiring and previewing,
// and every control.
#include "control_panel.h"

#include <algorithm>
#include <string>

#include "camera_controls.h"
#include "camera_info.h"
#include "control_panel_ids.h"
#include "controls.h"
#include "qrcamlib.h"
#include "sliders.h"
#include "twain_source.h"

namespace twain {

namespace {

constexpr char kBoxCaption[] = "Quorel Digital Camera Twain Driver";
constexpr char kOutOfTimers[] = "Out of Timers, SnapShot button may be inoperative";
constexpr char kCommunicationLost[] = "Camera communication lost, check I/O connections and restart application";
constexpr LONG kPortInUse = 0x43;

// clang-format off
// The size list: its items and the size index ("Resolution") of each.
const struct { const char* text; LONG index; } kSizes[] = {
    {"160 by 120",  2},
    {"176 by 144",  4},
    {"320 by 240",  1},
    {"352 by 288",  3},
    {"640 by 480",  0},
    {"1280 by 960", 5},
};
const char* const kFormats[] = {"24 bit Color", "8 bit B/W"};  // "Format" 0, 1
// clang-format on

#define TWAIN_VALUE(name) PROFILE_VALUE(profiles::kTwainLayout, name)

using camui::SliderField;
// The sliders that move one setting and the camera (the shutter bar has its table of positions).
const camui::Slider kSliders[] = {
    {IDC_GAIN, IDC_GAIN_EDIT, TWAIN_VALUE("Video Gain"), 250, 25, SliderField::Percent, &camui::sendGain},
    {IDC_AGC_BIAS, IDC_AGC_BIAS_EDIT, TWAIN_VALUE("AGC Bias"), 100, 10, SliderField::Plain, &camui::sendAutoBias},
    {IDC_GAMMA, IDC_GAMMA_EDIT, TWAIN_VALUE("Gamma Value"), 255, 10, SliderField::Gamma, &camui::sendGamma},
    {IDC_SHARPNESS, IDC_SHARPNESS_EDIT, TWAIN_VALUE("Image Sharpness"), 250, 25, SliderField::Percent,
     &camui::sendSharpness},
    {IDC_COLOR_LEVEL, IDC_COLOR_LEVEL_EDIT, TWAIN_VALUE("Color Saturation"), 250, 25, SliderField::Percent,
     &camui::sendChroma},
    {IDC_RED, IDC_RED_EDIT, TWAIN_VALUE("Red Balance"), 250, 25, SliderField::Percent, &camui::sendRed},
    {IDC_BLUE, IDC_BLUE_EDIT, TWAIN_VALUE("Blue Balance"), 250, 25, SliderField::Percent, &camui::sendBlue},
};

}  // namespace

TwainDialog::TwainDialog(TwainSource& source)
    : ui::Dialog(source.instance_, IDD_TWAIN_PANEL),
      source_(source),
      messages_(kBoxCaption),
      preview_(source.previewImage_, source.settings_[TWAIN_VALUE("Rotate Image")]) {}

TwainDialog::~TwainDialog() { timer_.cancel(); }

HWND TwainDialog::open() {
  ui::Window::registerClass(PREVIEW_CONTROL_CLASS);
  return createModeless(nullptr);
}

LONG& TwainDialog::setting(profiles::ValueId id) { return source_.settings_[id]; }

bool TwainDialog::onInit() {
  preview_.bind(item(IDC_PREVIEW_IMAGE));
  SetWindowTextA(hwnd_, "Digital Camera Twain Control Panel");
  placeWindow();
  timer_.setWindow(hwnd_);
  if (timer_.arm(kSetUpMs)) {
    previewRunning_ = true;
    noTimer_ = false;
  } else {
    previewRunning_ = false;
    noTimer_ = true;
    messages_.show(nullptr, kOutOfTimers, MB_OK | MB_ICONEXCLAMATION);
  }
  fillLists();
  refreshAll();
  if (noTimer_) previewButton();
  return true;
}

// The stored position, pulled onto the screen; the window is moved only when either is set.
void TwainDialog::placeWindow() {
  const LONG storedLeft = setting(TWAIN_VALUE("Src Dialog Left")), storedTop = setting(TWAIN_VALUE("Src Dialog Top"));
  LONG left = storedLeft < 0 ? 1 : storedLeft;
  LONG top = storedTop < 0 ? 1 : storedTop;
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  RECT frame;
  GetWindowRect(hwnd_, &frame);
  // The panel's own size where it is larger than the room kept for it, so all of it is visible.
  const LONG width = std::max<LONG>(612, frame.right - frame.left);
  const LONG height = std::max<LONG>(396, frame.bottom - frame.top);
  left = std::max<LONG>(0, std::min<LONG>(left, screenWidth - width));
  top = std::max<LONG>(0, std::min<LONG>(top, screenHeight - height));
  if (storedLeft != 0 || storedTop != 0) {
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

bool TwainDialog::armTimer(UINT milliseconds, HWND boxOwner) {
  if (timer_.arm(milliseconds)) {
    noTimer_ = false;
    return true;
  }
  noTimer_ = true;
  messages_.show(boxOwner, kOutOfTimers, MB_OK | MB_ICONEXCLAMATION);
  return false;
}

INT_PTR TwainDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  switch (message) {
    case WM_TIMER:
      // Only the pending timer's tick counts; any other identifier is not ours or is stale.
      if (timer_.take(wParam)) tick();
      handled = true;
      return 0;
    case WM_HSCROLL:
      if (lParam) scrolled(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), wParam);
      handled = true;
      return 0;
    case WM_RBUTTONDOWN:
      previewButton();
      handled = true;
      return 0;
    case WM_CLOSE:
      // The application closes the panel (MSG_DISABLEDS); the window's own close asks it to.
      previewRunning_ = false;
      source_.notifyApplication(MSG_CLOSEDSREQ);
      handled = true;
      return 0;
    default:
      handled = false;
      return 0;
  }
}

void TwainDialog::tick() {
  noTimer_ = false;
  readCameraButton();
  if (reloadRequest_ != 0) {
    if (reloadRequest_ == 1) {
      profiles::loadProfile(source_.settings_);
    } else {
      profiles::loadFactoryDefaults(source_.settings_);
    }
    source_.applyCameraSettings();
    refreshAll();
    reloadRequest_ = 0;
  }
  if (!hwnd_) return;  // the lost-camera request may have closed the panel
  if (previewRunning_ && source_.cameraFound_) showPreviewFrame();
  if (source_.cameraFound_ && timer_.pending() == 0) armTimer(previewRunning_ ? kPreviewMs : kSetUpMs, hwnd_);
}

// A press read at one tick triggers one action; the tick after only clears the camera's latch.
void TwainDialog::readCameraButton() {
  if (latch_ != 0) {
    latch_ = 0;
    Sleep(200);
    QRClearGPIn(1);
    return;
  }
  const LONG input = QRGetGPIn();
  if (input == kPortInUse) {
    Sleep(500);
    latch_ = 0;
  } else if (input > 15) {
    previewRunning_ = false;
    latch_ = 0;
    messages_.show(nullptr, kCommunicationLost, MB_OK | MB_ICONEXCLAMATION);
    source_.notifyApplication(MSG_CLOSEDSREQ);
  } else {
    latch_ = input & 1;
  }
  if (latch_ == 1) {
    if (setting(TWAIN_VALUE("Button Mode")) != 0) {
      acquire();
    } else {
      previewButton();
    }
  }
}

void TwainDialog::acquire() {
  if (previewRunning_) {
    timer_.cancel();
    noTimer_ = !timer_.arm(kAfterAcquireMs);
    QRSetFastGrabEn(0);
    QRGrabFrame();
  }
  source_.grabFullFrame();
  QRSetFastGrabEn(previewRunning_ ? 1 : 0);
  source_.announceImage();
}

void TwainDialog::previewButton() {
  if (noTimer_) {
    previewRunning_ = false;
    ui::Control(hwnd_, IDC_PREVIEW).setText("CAPTURE");
    if (source_.cameraFound_) showPreviewFrame();
    return;
  }
  previewRunning_ = !previewRunning_;
  ui::Control(hwnd_, IDC_PREVIEW).setText(previewRunning_ ? "STOP PREVIEW" : "START PREVIEW");
  ui::Control(hwnd_, IDC_REDRAW).enable(!previewRunning_);
  if (!previewRunning_) showPreviewFrame();
}

void TwainDialog::showPreviewFrame() {
  QRSetFastGrabEn(previewRunning_ ? 1 : 0);
  QRGrabFrame();
  grabPreview();
  if (setting(TWAIN_VALUE("AWB Tracking")) != 0) {
    setting(TWAIN_VALUE("Red Balance")) = QRGetRedBal();
    setting(TWAIN_VALUE("Blue Balance")) = QRGetBlueBal();
    showBalances();
  }
  if (setting(TWAIN_VALUE("AGC Mode")) != 0) {
    setting(TWAIN_VALUE("Video Gain")) = QRGetGain();
    setting(TWAIN_VALUE("Shutter Value")) = QRGetShutter();
    showGainAndShutter();
  }
}

void TwainDialog::grabPreview() {
  source_.grabPreviewFrame();
  preview_.frameGrabbed();
  InvalidateRect(preview_.handle(), nullptr, TRUE);
}

void TwainDialog::repaintPreview() { InvalidateRect(preview_.handle(), nullptr, TRUE); }

void TwainDialog::showBalances() {
  const LONG red = setting(TWAIN_VALUE("Red Balance")), blue = setting(TWAIN_VALUE("Blue Balance"));
  camui::setPercentField(hwnd_, IDC_RED_EDIT, red);
  camui::setPercentField(hwnd_, IDC_BLUE_EDIT, blue);
  ui::ScrollBar(hwnd_, IDC_RED).setPosition(red);
  ui::ScrollBar(hwnd_, IDC_BLUE).setPosition(blue);
}

void TwainDialog::showGainAndShutter() {
  camui::setPercentField(hwnd_, IDC_GAIN_EDIT, setting(TWAIN_VALUE("Video Gain")));
  camui::setNumberField(hwnd_, IDC_SHUTTER_EDIT, camui::shutterSpeed(setting(TWAIN_VALUE("Shutter Value"))));
}

void TwainDialog::manualWhiteBalance() {
  QRWhiteBalance();
  const LONG red = std::min<LONG>(QRGetRedBal(), 250), blue = std::min<LONG>(QRGetBlueBal(), 250);
  QRSetRedBal(red);
  QRSetBlueBal(blue);
  setting(TWAIN_VALUE("Red Balance")) = red;
  setting(TWAIN_VALUE("Blue Balance")) = blue;
  showBalances();
  if (!previewRunning_) grabPreview();
}

// The camera information as this source shows it: its own caption and version line, and the
// connection the source's open found.
void TwainDialog::showCameraInformation() {
  const TwainSource::Connection& found = source_.connection_;
  camui::CameraInfoContent content;
  content.caption = "Digital Camera Information";
  content.versionLine = ui::format("Digital Camera Twain Version %d.%d.%d.%d", 6, 9, 1, 49);
  content.connection.found = source_.cameraFound_ != FALSE;
  content.connection.parallel = found.busType == 1;
  content.connection.portNumber = found.port[0];
  content.connection.portAddress = found.port[1];
  content.connection.portMode = found.port[2];
  content.connection.serial = found.serial;
  content.mmxCapable = QRGetMMXEn() != 0;
  camui::AboutDlg dialog(resources(), content);
  dialog.runModal(hwnd_);
}

void TwainDialog::saveProfileRequested() { profiles::saveProfile(source_.settings_); }

bool TwainDialog::onCommand(int id, int code, HWND) {
  switch (id) {
    case IDC_ACQUIRE:
      acquire();
      return true;
    case IDC_PREVIEW:
      previewButton();
      return true;
    case IDC_REDRAW:
      grabPreview();
      return true;
    case IDC_CLOSE:
      previewRunning_ = false;
      source_.notifyApplication(MSG_CLOSEDSREQ);
      return true;
    case IDC_HELP_BUTTON:
      WinHelpA(hwnd_, "QUORELTWN.HLP", HELP_FINDER, 0);
      return true;
    case IDC_ABOUT:
      showCameraInformation();
      return true;
    case IDC_CONFIGURATION: {
      profiles::CFGSaveDialog manager(resources(), "Twain", messages_, kBoxCaption, *this);
      manager.runModal(hwnd_);
      return true;
    }
    case IDC_MANUAL_WB:
      manualWhiteBalance();
      return true;
    case IDC_IMAGE_SIZE:
    case IDC_COLOR_FORMAT:
    case IDC_SHUTTER_SPEED:
    case IDC_AGC_MODE:
      if (code == CBN_SELCHANGE) listChosen(id);
      return true;
    case IDC_AWB_TRACKING:
    case IDC_60HZ:
    case IDC_LED_ENABLE:
    case IDC_MIRROR:
    case IDC_FLIP:
    case IDC_BUTTON_ACQ:
      toggled(id);
      return true;
    case IDC_ROTATE_OFF:
      rotationChosen(0);
      return true;
    case IDC_ROTATE_LEFT:
      rotationChosen(1);
      return true;
    case IDC_ROTATE_RIGHT:
      rotationChosen(2);
      return true;
    default:
      // Escape and Enter do nothing: the panel closes only through the application.
      return id == IDOK || id == IDCANCEL;
  }
}

void TwainDialog::fillLists() {
  ui::ComboBox sizes(hwnd_, IDC_IMAGE_SIZE), formats(hwnd_, IDC_COLOR_FORMAT);
  ui::ComboBox shutters(hwnd_, IDC_SHUTTER_SPEED), modes(hwnd_, IDC_AGC_MODE);
  for (const auto& size : kSizes) sizes.add(size.text, size.index);
  for (const char* format : kFormats) formats.add(format);
  for (const camui::ShutterPreset& preset : camui::kTwainShutterPresets) shutters.add(preset.text);
  for (const char* mode : camui::kAgcModeTexts) modes.add(mode);
}

void TwainDialog::refreshAll() {
  camui::setBarRange(hwnd_, IDC_SHUTTER, camui::kShutterPositions - 1, 25,
                     camui::positionForShutter(setting(TWAIN_VALUE("Shutter Value"))));
  for (const camui::Slider& slider : kSliders) camui::showSlider(hwnd_, slider, setting(slider.value));
  showBalances();

  const LONG sizeIndex = setting(TWAIN_VALUE("Resolution"));
  const auto size = std::find_if(std::begin(kSizes), std::end(kSizes), [&](const auto& s) { return s.index == sizeIndex; });
  ui::ComboBox(hwnd_, IDC_IMAGE_SIZE).select(size == std::end(kSizes) ? -1 : static_cast<int>(size - std::begin(kSizes)));
  ui::ComboBox(hwnd_, IDC_COLOR_FORMAT).select(setting(TWAIN_VALUE("Format")) == 1 ? 1 : 0);
  ui::ComboBox(hwnd_, IDC_AGC_MODE).select(camui::agcItem(setting(TWAIN_VALUE("AGC Mode")), 3));

  const struct {
    int id;
    profiles::ValueId value;
  } kChecks[] = {
      {IDC_AWB_TRACKING, TWAIN_VALUE("AWB Tracking")}, {IDC_60HZ, TWAIN_VALUE("60Hz Power System")},
      {IDC_LED_ENABLE, TWAIN_VALUE("LED Enable")},     {IDC_MIRROR, TWAIN_VALUE("Mirror")},
      {IDC_FLIP, TWAIN_VALUE("Flip")},                 {IDC_BUTTON_ACQ, TWAIN_VALUE("Button Mode")},
  };
  for (const auto& check : kChecks) ui::CheckBox(hwnd_, check.id).setChecked(setting(check.value) != 0);
  const LONG rotate = setting(TWAIN_VALUE("Rotate Image"));
  ui::CheckBox(hwnd_, IDC_ROTATE_OFF).setChecked(rotate == 0);
  ui::CheckBox(hwnd_, IDC_ROTATE_LEFT).setChecked(rotate == 1);
  ui::CheckBox(hwnd_, IDC_ROTATE_RIGHT).setChecked(rotate != 0 && rotate != 1);

  const char* previewText = noTimer_ ? "CAPTURE" : previewRunning_ ? "STOP PREVIEW" : "START PREVIEW";
  ui::Control(hwnd_, IDC_PREVIEW).setText(previewText);
  ui::Control(hwnd_, IDC_REDRAW).enable(!previewRunning_);
  refreshShutterDisplay();
}

void TwainDialog::refreshShutterDisplay() {
  LONG& shutter = setting(TWAIN_VALUE("Shutter Value"));
  shutter = QRGetShutter();
  camui::setNumberField(hwnd_, IDC_SHUTTER_EDIT, camui::shutterSpeed(shutter));
  const bool manual = setting(TWAIN_VALUE("AGC Mode")) == 0;
  for (int id : {IDC_SHUTTER_SPEED, IDC_SHUTTER, IDC_SHUTTER_EDIT, IDC_GAIN, IDC_GAIN_EDIT}) {
    ui::Control(hwnd_, id).enable(manual);
  }
  ui::Control(hwnd_, IDC_AGC_BIAS).enable(!manual);
  if (!manual) return;
  ui::ScrollBar(hwnd_, IDC_GAIN).setPosition(setting(TWAIN_VALUE("Video Gain")));
  ui::ScrollBar(hwnd_, IDC_SHUTTER).setPosition(camui::positionForShutter(shutter));
  ui::ComboBox(hwnd_, IDC_SHUTTER_SPEED).select(camui::nearestPreset(shutter, camui::kTwainShutterPresets));
}

void TwainDialog::scrolled(int id, WPARAM request) {
  if (id == IDC_SHUTTER) {
    const LONG shutter =
        camui::shutterAtPosition(camui::moveBar(hwnd_, id, request, camui::kShutterPositions - 1));
    if (shutter != QRGetShutter()) {
      setting(TWAIN_VALUE("Frequency")) = camui::scanFrequencyForShutter(shutter);
      setting(TWAIN_VALUE("Shutter Value")) = shutter;
      QRSetScanFreq(setting(TWAIN_VALUE("Frequency")));
      QRSetShutter(shutter);
    }
    refreshShutterDisplay();
    return;
  }
  if (const camui::Slider* slider = camui::sliderOf(kSliders, id))
    camui::applySlider(hwnd_, *slider, source_.settings_, camui::moveBar(hwnd_, id, request, slider->last));
}

void TwainDialog::listChosen(int id) {
  const int item = ui::ComboBox(hwnd_, id).selection();
  if (item < 0) return;
  switch (id) {
    case IDC_IMAGE_SIZE:
      if (item < static_cast<int>(std::size(kSizes))) setting(TWAIN_VALUE("Resolution")) = kSizes[item].index;
      preview_.clearPreview();
      repaintPreview();
      break;
    case IDC_COLOR_FORMAT:
      setting(TWAIN_VALUE("Format")) = item == 1 ? 1 : 0;
      break;
    case IDC_SHUTTER_SPEED: {
      if (item >= camui::kShutterPresetCount) return;
      const camui::ShutterPreset& preset = camui::kTwainShutterPresets[item];
      setting(TWAIN_VALUE("Shutter Value")) = preset.shutter;
      setting(TWAIN_VALUE("Frequency")) = preset.frequency;
      QRSetScanFreq(preset.frequency);
      QRSetShutter(preset.shutter);
      refreshShutterDisplay();
      break;
    }
    case IDC_AGC_MODE:
      if (item >= camui::kAgcModeCount) return;
      setting(TWAIN_VALUE("AGC Mode")) = camui::kAgcModes[item];
      QRSetAGCMode(camui::kAgcModes[item]);
      refreshShutterDisplay();
      break;
  }
}

void TwainDialog::toggled(int id) {
  const struct {
    int id;
    profiles::ValueId value;
  } kToggles[] = {
      {IDC_AWB_TRACKING, TWAIN_VALUE("AWB Tracking")}, {IDC_60HZ, TWAIN_VALUE("60Hz Power System")},
      {IDC_LED_ENABLE, TWAIN_VALUE("LED Enable")},     {IDC_MIRROR, TWAIN_VALUE("Mirror")},
      {IDC_FLIP, TWAIN_VALUE("Flip")},                 {IDC_BUTTON_ACQ, TWAIN_VALUE("Button Mode")},
  };
  for (const auto& toggle : kToggles) {
    if (toggle.id != id) continue;
    LONG& value = setting(toggle.value);
    value = value ? 0 : 1;
    ui::CheckBox(hwnd_, id).setChecked(value != 0);
    switch (id) {
      case IDC_AWB_TRACKING:
        QRSetAWBEn(value);
        break;
      case IDC_60HZ:
        QRSet60HzEn(value);
        setting(TWAIN_VALUE("Frequency")) = value ? 6000 : 5000;
        refreshShutterDisplay();
        break;
      case IDC_LED_ENABLE:
        QRSetLEDEn(value ? setting(TWAIN_VALUE("LED Mode")) : 0);
        break;
    }
    return;
  }
}

void TwainDialog::rotationChosen(LONG rotate) {
  setting(TWAIN_VALUE("Rotate Image")) = rotate;
  ui::CheckBox(hwnd_, IDC_ROTATE_OFF).setChecked(rotate == 0);
  ui::CheckBox(hwnd_, IDC_ROTATE_LEFT).setChecked(rotate == 1);
  ui::CheckBox(hwnd_, IDC_ROTATE_RIGHT).setChecked(rotate == 2);
  preview_.clearPreview();
  repaintPreview();
}

}  // namespace twain

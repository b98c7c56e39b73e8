// The camera and colour control panels: set-up and refresh, every control's range, camera call
// and setting, the stored positions, and the main window's side (opening, closing, requests and
// the live readouts).
#include "panels.h"

#include <algorithm>
#include <iterator>

#include "camera_controls.h"
#include "controls.h"
#include "panel_ids.h"
#include "qrcamlib.h"
#include "sliders.h"

namespace viewer {

namespace {

// clang-format off
// The size list: its items and the "Resolution" index of each.
const struct { const char* text; LONG index; } kSizes[] = {
    {"128 by 96",   6},
    {"160 by 120",  2},
    {"176 by 144",  4},
    {"320 by 240",  1},
    {"352 by 288",  3},
    {"640 by 480",  0},
    {"1280 by 960", 5},
};
const char* const kFormats[] = {"24 bit Color", "8 bit B/W"};  // "Format" 0, 1
// clang-format on

constexpr char kNoFrame[] =
    "An Image must be previously captured to run the AWB function, capture an image by use of the CAPTURE or "
    "PREVIEW functions, and try again!";
constexpr char kNoFrameCaption[] = "Auto White Balance Error!";

using camui::Slider;
using camui::SliderField;
// clang-format off
const Slider kSharpness = {IDC_SHARPNESS, IDC_SHARPNESS_EDIT, VIEWER_VALUE("Image Sharpness"), 250, 25,
                           SliderField::Percent, &camui::sendSharpness};
const Slider kColourLevel = {IDC_COLOR_LEVEL, IDC_COLOR_LEVEL_EDIT, VIEWER_VALUE("Saturation"), 250, 25,
                             SliderField::Percent, &camui::sendChroma};
// The compact panel's BRIGHTNESS: the automatic gain's level while that runs, the manual gain otherwise.
const Slider kCompactBias = {IDC_BRIGHTNESS, IDC_BRIGHTNESS_EDIT, VIEWER_VALUE("AGC Bias"), 100, 10,
                             SliderField::Plain, &camui::sendAutoBias};
const Slider kCompactGain = {IDC_BRIGHTNESS, IDC_BRIGHTNESS_EDIT, VIEWER_VALUE("Video Gain"), 250, 25,
                             SliderField::Percent, &camui::sendGain};
const Slider kBackLight = {IDC_BACK_LIGHT, IDC_BACK_LIGHT_EDIT, VIEWER_VALUE("Back Light"), 250, 25,
                           SliderField::Percent, &camui::sendBacklight};
const Slider kGain = {IDC_GAIN, IDC_GAIN_EDIT, VIEWER_VALUE("Video Gain"), 250, 25,
                      SliderField::Percent, &camui::sendGain};
const Slider kBias = {IDC_AGC_BIAS, IDC_AGC_BIAS_EDIT, VIEWER_VALUE("AGC Bias"), 100, 10,
                      SliderField::Plain, &camui::sendAutoBias};
const Slider kGamma = {IDC_GAMMA, IDC_GAMMA_EDIT, VIEWER_VALUE("Gamma Value"), 255, 10,
                       SliderField::Gamma, &camui::sendGamma};
const Slider kRedBalance = {IDC_RED_BALANCE, IDC_RED_BALANCE_EDIT, VIEWER_VALUE("Red Balance"), 250, 25,
                            SliderField::Percent, &camui::sendRed};
const Slider kBlueBalance = {IDC_BLUE_BALANCE, IDC_BLUE_BALANCE_EDIT, VIEWER_VALUE("Blue Balance"), 250, 25,
                             SliderField::Percent, &camui::sendBlue};
// clang-format on
const Slider* const kFullSliders[] = {&kBackLight, &kSharpness, &kGain, &kBias, &kGamma};
const Slider* const kColourSliders[] = {&kColourLevel, &kRedBalance, &kBlueBalance};

RECT windowRect(HWND hwnd) {
  RECT rect = {};
  GetWindowRect(hwnd, &rect);
  return rect;
}

// Moves `panel` to the stored position pulled onto the screen, unless both are 0.
void placePanel(HWND panel, LONG left, LONG top, LONG least) {
  const RECT frame = windowRect(panel);
  if (ViewerPanels::placement(left, top, frame.right - frame.left, frame.bottom - frame.top, least))
    SetWindowPos(panel, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// Both camera panels.

CameraPanel::CameraPanel(HINSTANCE resources, int templateId, ViewerPanels& panels)
    : ui::Dialog(resources, templateId), panels_(panels), context_(panels.context()) {}

LONG& CameraPanel::value(profiles::ValueId id) { return context_.io[id]; }

void CameraPanel::showSlider(const camui::Slider& slider) { camui::showSlider(hwnd_, slider, value(slider.value)); }

void CameraPanel::moveSlider(const camui::Slider& slider, WPARAM request) {
  camui::applySlider(hwnd_, slider, context_.io.settings, camui::moveBar(hwnd_, slider.bar, request, slider.last));
}

bool CameraPanel::onInit() {
  placePanel(hwnd_, value(VIEWER_VALUE("Dialog Left")), value(VIEWER_VALUE("Dialog Top")), 0);
  fillSizesAndFormats();
  setUp(kRefreshAll);
  SetWindowTextA(hwnd_, "Camera Control Panel");
  return true;
}

void CameraPanel::refresh(unsigned reasons) {
  if (hwnd_) setUp(reasons);
}

void CameraPanel::close() {
  if (!hwnd_) return;
  panels_.keepPosition(hwnd_, VIEWER_VALUE("Dialog Left"), VIEWER_VALUE("Dialog Top"));
  end(IDCANCEL);
}

void CameraPanel::fillSizesAndFormats() {
  ui::ComboBox sizes(hwnd_, IDC_IMAGE_SIZE), formats(hwnd_, IDC_COLOR_FORMAT);
  sizes.clear();
  formats.clear();
  for (const auto& size : kSizes) sizes.add(size.text, size.index);
  for (const char* format : kFormats) formats.add(format);
}

void CameraPanel::showSizeAndFormat(unsigned reasons) {
  if (reasons & kRefreshResolution) {
    const LONG index = value(VIEWER_VALUE("Resolution"));
    const auto size =
        std::find_if(std::begin(kSizes), std::end(kSizes), [&](const auto& s) { return s.index == index; });
    ui::ComboBox(hwnd_, IDC_IMAGE_SIZE)
        .select(size == std::end(kSizes) ? -1 : static_cast<int>(size - std::begin(kSizes)));
  }
  if (reasons & kRefreshFormat) ui::ComboBox(hwnd_, IDC_COLOR_FORMAT).select(value(VIEWER_VALUE("Format")) == 1);
  if (reasons & (kRefreshResolution | kRefreshFormat | kRefreshQuality)) fillQuality();
}

// The quality list for the current size and format, showing "Image Quality".
void CameraPanel::fillQuality() {
  const LONG resolution = value(VIEWER_VALUE("Resolution")), format = value(VIEWER_VALUE("Format"));
  ui::ComboBox quality(hwnd_, IDC_QUALITY);
  quality.clear();
  if (camui::onlyHighQuality(resolution, format)) {
    quality.add(camui::kQualityTexts[camui::kQualityCount - 1]);
  } else {
    for (const char* text : camui::kQualityTexts) quality.add(text);
  }
  quality.select(camui::itemOfQuality(value(VIEWER_VALUE("Image Quality")), resolution, format));
}

bool CameraPanel::onCommand(int id, int code, HWND) {
  ViewerState& s = context_.state;
  switch (id) {
    case IDC_STILL_IMAGE:
      if (s.previewOn)
        s.previewOn = 0;  // the running preview ends with a capture
      else
        s.snapshotRequested = 1;
      return true;
    case IDC_PREVIEW_BUTTON:
      s.previewOn = !s.previewOn;
      return true;
    case IDC_REDRAW_BUTTON:
      if (!s.previewOn) s.redrawRequested = 1;
      return true;
    case IDC_IMAGE_SIZE:
    case IDC_COLOR_FORMAT: {
      if (code != CBN_SELCHANGE) return true;
      const int item = ui::ComboBox(hwnd_, id).selection();
      if (item < 0) return true;
      LONG& setting = value(id == IDC_IMAGE_SIZE ? VIEWER_VALUE("Resolution") : VIEWER_VALUE("Format"));
      const LONG chosen = id == IDC_IMAGE_SIZE ? (item < static_cast<int>(std::size(kSizes)) ? kSizes[item].index : 0)
                                               : (item == 1 ? 1 : 0);
      if (chosen != setting) s.configChanged = 1;
      setting = chosen;
      fillQuality();  // the new size or format goes to the camera with the next frame read
      return true;
    }
    case IDC_QUALITY: {
      if (code != CBN_SELCHANGE) return true;
      const LONG quality = camui::qualityOfItem(ui::ComboBox(hwnd_, id).selection(), value(VIEWER_VALUE("Resolution")),
                                                value(VIEWER_VALUE("Format")));
      value(VIEWER_VALUE("Image Quality")) = quality;
      QRSetQuality(quality);
      s.configChanged = 1;
      return true;
    }
    case IDOK:
    case IDCANCEL:  // Enter, Escape and the system menu's Close
      close();
      return true;
    default:
      return variantCommand(id, code);
  }
}

INT_PTR CameraPanel::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (message == WM_HSCROLL && lParam) {
    HWND control = reinterpret_cast<HWND>(lParam);
    const WORD request = LOWORD(wParam);
    if (request != SB_ENDSCROLL) {
      scrolled(GetDlgCtrlID(control), wParam);
      context_.state.configChanged = 1;
    }
    handled = true;
    return 0;
  }
  handled = false;
  return 0;
}

// The compact panel.

GpioLessDialog::GpioLessDialog(HINSTANCE resources, ViewerPanels& panels)
    : CameraPanel(resources, IDD_CAMERA_PANEL_COMPACT, panels) {}

void GpioLessDialog::setUp(unsigned reasons) {
  showSizeAndFormat(reasons);
  if (reasons == kRefreshAll) {
    showSlider(brightness());
    showSlider(kSharpness);
  }
  if (reasons & kRefreshSaturation) {
    if (reasons != kRefreshAll) value(VIEWER_VALUE("Saturation")) = QRGetChromaSat();
    showSlider(kColourLevel);
  }
}

const camui::Slider& GpioLessDialog::brightness() {
  return value(VIEWER_VALUE("ASC Enable")) != 0 ? kCompactBias : kCompactGain;
}

void GpioLessDialog::scrolled(int id, WPARAM request) {
  const Slider* const sliders[] = {&brightness(), &kSharpness, &kColourLevel};
  const Slider* slider = camui::sliderOf(sliders, id);
  if (!slider) return;
  moveSlider(*slider, request);
  if (slider == &kColourLevel) panels_.colourSaturationChanged();
}

bool GpioLessDialog::variantCommand(int id, int) {
  switch (id) {
    case IDC_MORE:
      close();
      panels_.requestVariantSwitch();
      return true;
    case IDC_HELP_BUTTON:
      WinHelpA(hwnd_, "QRVIEW32.HLP", HELP_FINDER, 0);
      return true;
  }
  return false;
}

// The full panel.

GpioDialog::GpioDialog(HINSTANCE resources, ViewerPanels& panels)
    : CameraPanel(resources, IDD_CAMERA_PANEL_FULL, panels) {}

void GpioDialog::setUp(unsigned reasons) {
  showSizeAndFormat(reasons);
  if (reasons == kRefreshAll) {
    ui::ComboBox presets(hwnd_, IDC_SHUTTER_PRESETS), modes(hwnd_, IDC_AGC_MODE);
    presets.clear();
    modes.clear();
    for (const camui::ShutterPreset& preset : camui::kViewerShutterPresets) presets.add(preset.text);
    for (const char* mode : camui::kAgcModeTexts) modes.add(mode);
    modes.select(camui::agcItem(value(VIEWER_VALUE("ASC Enable")), 0));
    for (const Slider* slider : kFullSliders) showSlider(*slider);
    camui::setBarRange(hwnd_, IDC_SHUTTER, camui::kShutterPositions - 1, 25,
                       camui::positionForShutter(value(VIEWER_VALUE("Shutter Value"))));
  }
  if (reasons & kRefreshGainShutter) updateShutterDisplay();
}

void GpioDialog::showLiveGainAndShutter(LONG gain, LONG shutter) {
  if (!hwnd_) return;
  camui::setPercentField(hwnd_, IDC_GAIN_EDIT, gain);
  camui::setNumberField(hwnd_, IDC_SHUTTER_EDIT, camui::shutterSpeed(shutter));
}

void GpioDialog::updateShutterDisplay() {
  LONG& shutter = value(VIEWER_VALUE("Shutter Value"));
  shutter = QRGetShutter();
  camui::setNumberField(hwnd_, IDC_SHUTTER_EDIT, camui::shutterSpeed(shutter));
  const bool automatic = value(VIEWER_VALUE("ASC Enable")) != 0;
  ui::Control(hwnd_, IDC_AGC_BIAS).enable(automatic);
  for (int id : {IDC_SHUTTER, IDC_SHUTTER_EDIT, IDC_GAIN, IDC_GAIN_EDIT, IDC_SHUTTER_PRESETS})
    ui::Control(hwnd_, id).enable(!automatic);
  if (automatic) return;
  ui::ScrollBar(hwnd_, IDC_GAIN).setPosition(value(VIEWER_VALUE("Video Gain")));
  camui::setPercentField(hwnd_, IDC_GAIN_EDIT, value(VIEWER_VALUE("Video Gain")));
  ui::ScrollBar(hwnd_, IDC_SHUTTER).setPosition(camui::positionForShutter(shutter));
  ui::ComboBox(hwnd_, IDC_SHUTTER_PRESETS).select(camui::nearestPreset(shutter, camui::kViewerShutterPresets));
}

void GpioDialog::scrolled(int id, WPARAM request) {
  if (id == IDC_SHUTTER) {
    const LONG shutter = camui::shutterAtPosition(camui::moveBar(hwnd_, id, request, camui::kShutterPositions - 1));
    if (shutter != QRGetShutter()) {
      value(VIEWER_VALUE("Frequency")) = camui::scanFrequencyForShutter(shutter);
      QRSetScanFreq(value(VIEWER_VALUE("Frequency")));
      QRSetShutter(shutter);
    }
    updateShutterDisplay();
    return;
  }
  if (const Slider* slider = camui::sliderOf(kFullSliders, id)) moveSlider(*slider, request);
}

bool GpioDialog::variantCommand(int id, int code) {
  ViewerState& s = context_.state;
  switch (id) {
    case IDC_LESS:
      close();
      panels_.requestVariantSwitch();
      return true;
    case IDC_FULL_CLOSE:
      close();
      return true;
    case IDC_COLOR_BUTTON:
      panels_.requestColourToggle();
      return true;
    case IDC_SHUTTER_PRESETS: {
      if (code != CBN_SELCHANGE) return true;
      const int item = ui::ComboBox(hwnd_, id).selection();
      if (item < 0 || item >= camui::kShutterPresetCount) return true;
      const camui::ShutterPreset& preset = camui::kViewerShutterPresets[item];
      value(VIEWER_VALUE("Frequency")) = preset.frequency;
      QRSetScanFreq(preset.frequency);
      if (preset.shutter != value(VIEWER_VALUE("Shutter Value"))) {
        value(VIEWER_VALUE("Shutter Value")) = preset.shutter;
        QRSetShutter(preset.shutter);
        updateShutterDisplay();
        s.configChanged = 1;
      }
      return true;
    }
    case IDC_AGC_MODE: {
      if (code != CBN_SELCHANGE) return true;
      const int item = ui::ComboBox(hwnd_, id).selection();
      if (item < 0 || item >= camui::kAgcModeCount) return true;
      LONG& mode = value(VIEWER_VALUE("ASC Enable"));
      mode = camui::kAgcModes[item];
      if (mode == 0) {
        // The automatic gain's last gain and scan frequency become the manual ones.
        QRSetAGCMode(0);
        value(VIEWER_VALUE("Video Gain")) = QRGetGain();
        value(VIEWER_VALUE("Frequency")) = QRGetScanFreq();
      }
      QRSetAGCMode(mode);
      updateShutterDisplay();
      s.configChanged = 1;
      return true;
    }
  }
  return false;
}

// The colour panel.

ColorDialog::ColorDialog(HINSTANCE resources, ViewerPanels& panels)
    : ui::Dialog(resources, IDD_COLOUR_PANEL), panels_(panels), context_(panels.context()) {}

LONG& ColorDialog::value(profiles::ValueId id) { return context_.io[id]; }

bool ColorDialog::onInit() {
  keptRed_ = value(VIEWER_VALUE("Red Balance"));
  keptBlue_ = value(VIEWER_VALUE("Blue Balance"));
  keptSaturation_ = value(VIEWER_VALUE("Saturation"));
  placePanel(hwnd_, value(VIEWER_VALUE("Color Dialog Left")), value(VIEWER_VALUE("Color Dialog Top")), 5);
  for (const Slider* slider : kColourSliders) camui::showSlider(hwnd_, *slider, value(slider->value));
  showBalances();
  ui::CheckBox(hwnd_, IDC_AWB_TRACKING).setChecked(value(VIEWER_VALUE("AWB Tracking")) != 0);
  SetWindowTextA(hwnd_, "Color Control Panel");
  return true;
}

void ColorDialog::refresh(unsigned reasons) {
  if (!hwnd_) return;
  if (reasons & kRefreshSaturation) {
    if (reasons != kRefreshAll) value(VIEWER_VALUE("Saturation")) = QRGetChromaSat();
    ui::ScrollBar(hwnd_, IDC_COLOR_LEVEL).setPosition(value(VIEWER_VALUE("Saturation")));
    camui::showSliderField(hwnd_, kColourLevel, value(VIEWER_VALUE("Saturation")));
  }
  if (reasons & kRefreshBalance) showBalances();
  if (reasons == kRefreshAll)
    ui::CheckBox(hwnd_, IDC_AWB_TRACKING).setChecked(value(VIEWER_VALUE("AWB Tracking")) != 0);
}

void ColorDialog::showBalances() {
  const LONG red = value(VIEWER_VALUE("Red Balance")), blue = value(VIEWER_VALUE("Blue Balance"));
  ui::ScrollBar(hwnd_, IDC_RED_BALANCE).setPosition(red);
  ui::ScrollBar(hwnd_, IDC_BLUE_BALANCE).setPosition(blue);
  camui::showSliderField(hwnd_, kRedBalance, red);
  camui::showSliderField(hwnd_, kBlueBalance, blue);
}

void ColorDialog::close() {
  if (!hwnd_) return;
  panels_.keepPosition(hwnd_, VIEWER_VALUE("Color Dialog Left"), VIEWER_VALUE("Color Dialog Top"));
  end(IDOK);
}

void ColorDialog::manualWhiteBalance() {
  if (!context_.state.frameReady) {
    context_.messages.show(hwnd_, kNoFrame, MB_OK, kNoFrameCaption);
    return;
  }
  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  QRWhiteBalance();
  LONG& red = value(VIEWER_VALUE("Red Balance"));
  red = std::min<LONG>(QRGetRedBal(), 250);
  QRSetRedBal(red & 255);
  LONG& blue = value(VIEWER_VALUE("Blue Balance"));
  blue = std::min<LONG>(QRGetBlueBal(), 250);
  QRSetBlueBal(blue & 255);
  showBalances();
  context_.state.redrawRequested = 1;  // the picture is read again with the new balance
  context_.state.configChanged = 1;
  SetCursor(previous);
}

bool ColorDialog::onCommand(int id, int, HWND) {
  switch (id) {
    case IDC_AWB_TRACKING: {
      LONG& tracking = value(VIEWER_VALUE("AWB Tracking"));
      tracking = tracking ? 0 : 1;
      QRSetAWBEn(tracking);
      ui::CheckBox(hwnd_, id).setChecked(tracking != 0);
      context_.state.configChanged = 1;
      return true;
    }
    case IDC_MANUAL_WB:
      manualWhiteBalance();
      return true;
    case IDOK:
      close();
      return true;
    case IDCANCEL:
      // What was changed while the panel was open is undone, in the camera too.
      value(VIEWER_VALUE("Red Balance")) = keptRed_;
      value(VIEWER_VALUE("Blue Balance")) = keptBlue_;
      value(VIEWER_VALUE("Saturation")) = keptSaturation_;
      QRSetRedBal(keptRed_ & 255);
      QRSetBlueBal(keptBlue_ & 255);
      QRSetChromaSat(keptSaturation_);
      panels_.compactSaturationChanged();
      close();
      return true;
  }
  return false;
}

INT_PTR ColorDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (message == WM_HSCROLL && lParam) {
    HWND control = reinterpret_cast<HWND>(lParam);
    if (LOWORD(wParam) != SB_ENDSCROLL) {
      if (const Slider* slider = camui::sliderOf(kColourSliders, GetDlgCtrlID(control))) {
        camui::applySlider(hwnd_, *slider, context_.io.settings,
                           camui::moveBar(hwnd_, slider->bar, wParam, slider->last));
        if (slider == &kColourLevel) panels_.compactSaturationChanged();
      }
      context_.state.configChanged = 1;
    }
    handled = true;
    return 0;
  }
  handled = false;
  return 0;
}

// The main window's side.

ViewerPanels::ViewerPanels(HINSTANCE resources, PanelContext context)
    : context_(context), compact_(resources, *this), full_(resources, *this), colour_(resources, *this) {}

ViewerPanels::~ViewerPanels() = default;

bool ViewerPanels::placement(LONG& left, LONG& top, LONG width, LONG height, LONG least) {
  if (left == 0 && top == 0) return false;
  const LONG screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  left = std::max<LONG>(least, std::min<LONG>(left, screenWidth - width));
  top = std::max<LONG>(least, std::min<LONG>(top, screenHeight - height));
  return true;
}

void ViewerPanels::keepPosition(HWND panel, profiles::ValueId left, profiles::ValueId top) {
  const RECT frame = windowRect(panel);
  LONG& storedLeft = context_.io[left];
  LONG& storedTop = context_.io[top];
  if (storedLeft != frame.left || storedTop != frame.top) context_.state.configChanged = 1;
  storedLeft = frame.left;
  storedTop = frame.top;
}

CameraPanel* ViewerPanels::openCameraPanel() {
  if (compact_.isOpen()) return &compact_;
  if (full_.isOpen()) return &full_;
  return nullptr;
}

void ViewerPanels::openCameraVariant() {
  CameraPanel& panel = compactChosen_ ? static_cast<CameraPanel&>(compact_) : full_;
  shownGain_ = shownShutter_ = -1;
  panel.createModeless(context_.owner);
}

void ViewerPanels::toggleCameraPanel() {
  if (CameraPanel* open = openCameraPanel())
    open->close();
  else
    openCameraVariant();
}

void ViewerPanels::toggleColourPanel() {
  if (colour_.isOpen())
    colour_.close();
  else
    colour_.createModeless(context_.owner);
}

void ViewerPanels::colourSaturationChanged() {
  if (colour_.isOpen()) requestRefresh(kRefreshSaturation);
}

void ViewerPanels::compactSaturationChanged() {
  if (compact_.isOpen()) requestRefresh(kRefreshSaturation);
}

bool ViewerPanels::idleStep() {
  if (switchRequest_) {
    switchRequest_ = false;
    if (CameraPanel* open = openCameraPanel()) open->close();
    compactChosen_ = !compactChosen_;
    openCameraVariant();
    return true;
  }
  if (colourToggleRequest_) {
    colourToggleRequest_ = false;
    toggleColourPanel();
    return true;
  }
  if (refreshRequest_) {
    const unsigned reasons = refreshRequest_;
    refreshRequest_ = 0;
    // Each panel re-reads the saturation only when the other one changed it.
    if (CameraPanel* open = openCameraPanel()) open->refresh(reasons);
    colour_.refresh(reasons);
    return true;
  }
  return false;
}

void ViewerPanels::displayUpdated() {
  TQRViewIO& io = context_.io;
  if (full_.isOpen() && io[VIEWER_VALUE("ASC Enable")] != 0) {
    const LONG gain = QRGetGain(), shutter = QRGetShutter();
    if (gain != shownGain_ || shutter != shownShutter_) {
      shownGain_ = gain;
      shownShutter_ = shutter;
      full_.refresh(kRefreshGainShutter);
      full_.showLiveGainAndShutter(gain, shutter);
    }
  }
  if (colour_.isOpen() && io[VIEWER_VALUE("AWB Tracking")] != 0) {
    const LONG red = QRGetRedBal(), blue = QRGetBlueBal();
    if (red != io[VIEWER_VALUE("Red Balance")] || blue != io[VIEWER_VALUE("Blue Balance")]) {
      io[VIEWER_VALUE("Red Balance")] = red;
      io[VIEWER_VALUE("Blue Balance")] = blue;
      colour_.refresh(kRefreshBalance);
    }
  }
}

void ViewerPanels::storePositions() {
  if (CameraPanel* open = openCameraPanel())
    keepPosition(open->handle(), VIEWER_VALUE("Dialog Left"), VIEWER_VALUE("Dialog Top"));
  if (colour_.isOpen())
    keepPosition(colour_.handle(), VIEWER_VALUE("Color Dialog Left"), VIEWER_VALUE("Color Dialog Top"));
}

void ViewerPanels::closeAll() {
  if (CameraPanel* open = openCameraPanel()) open->close();
  colour_.close();
  switchRequest_ = colourToggleRequest_ = false;
  refreshRequest_ = 0;
}

}  // namespace viewer

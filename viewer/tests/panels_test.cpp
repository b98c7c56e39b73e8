// The viewer's camera and colour control panels, opened by the main window's commands against the
// virtual camera and driven by their controls' messages: texts and ids, the two camera panel
// variants, every bar's camera call (read back from the camera library), the lists, the shutter
// readouts, the stored positions, the colour panel's Cancel and white balance, and the live
// readouts while the camera regulates itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera_controls.h"
#include "controls.h"
#include "panel_ids.h"
#include "qrcamlib.h"
#include "viewer_fixture.h"
#include "viewer_ids.h"

namespace {

using viewer::CameraPanel;

class Panels : public viewertest::Viewer {
 protected:
  void SetUp() override {
    Viewer::SetUp();
    // The panels are modeless: the test drives them, nobody answers them.
    answers_.leaveAlone("Camera Control Panel");
    answers_.leaveAlone("Color Control Panel");
  }

  void TearDown() override {
    // Closing keeps the panels' positions, which would make the window ask about saving.
    if (app_ && open()) window().panels().closeAll();
    Viewer::TearDown();
  }
  LONG& setting(profiles::ValueId id) { return window().settings()[id]; }

  // A powered camera; with `manualGain` the automatic gain is off in the settings and the camera.
  void powered(bool manualGain = true) {
    plugUsbCamera();
    start();
    if (manualGain) setting(VIEWER_VALUE("ASC Enable")) = 0;
    settle();
  }

  HWND cameraPanel() {
    CameraPanel* open = window().panels().openCameraPanel();
    return open ? open->handle() : nullptr;
  }
  HWND colourPanel() { return window().panels().colour().handle(); }
  HWND compactPanel() { return window().panels().compact().handle(); }
  HWND fullPanel() { return window().panels().full().handle(); }

  // The full panel, reached through More... as a person does.
  HWND openFull() {
    command(CM_CAMERA_PANEL);
    click(compactPanel(), IDC_MORE);
    settle();
    return fullPanel();
  }

  // The camera panel variant opened anew (closed first when open).
  HWND openAfresh(bool full) {
    if (cameraPanel()) command(CM_CAMERA_PANEL);
    if (full == window().panels().compactChosen()) {
      command(CM_CAMERA_PANEL);
      click(cameraPanel(), full ? IDC_MORE : IDC_LESS);
      settle();
      command(CM_CAMERA_PANEL);
    }
    command(CM_CAMERA_PANEL);
    return cameraPanel();
  }

  static void click(HWND panel, int id) {
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(panel, id)));
  }
  static void scrollTo(HWND panel, int id, int position) {
    SendMessageA(panel, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, position),
                 reinterpret_cast<LPARAM>(GetDlgItem(panel, id)));
  }
  static void choose(HWND panel, int id, const std::string& text) {
    HWND combo = GetDlgItem(panel, id);
    const LRESULT item =
        SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    ASSERT_NE(CB_ERR, item) << "no item \"" << text << "\" in list " << id;
    SendMessageA(combo, CB_SETCURSEL, item, 0);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  }
  static std::vector<std::string> entries(HWND panel, int id) {
    std::vector<std::string> result;
    ui::ComboBox combo(panel, id);
    for (int i = 0; i < combo.count(); ++i) result.push_back(combo.entry(i));
    return result;
  }
  static std::string selected(HWND panel, int id) {
    ui::ComboBox combo(panel, id);
    return combo.selection() < 0 ? "(none)" : combo.entry(combo.selection());
  }
  static std::string text(HWND panel, int id) { return ui::windowText(GetDlgItem(panel, id)); }
  static int barPosition(HWND panel, int id) { return ui::ScrollBar(panel, id).position(); }
  static bool controlEnabled(HWND panel, int id) { return IsWindowEnabled(GetDlgItem(panel, id)) != FALSE; }
  static std::string caption(HWND panel) { return ui::windowText(panel); }
};

struct ControlText {
  int id;
  const char* text;
};

void expectTexts(HWND panel, const std::vector<ControlText>& controls) {
  for (const ControlText& control : controls) {
    ASSERT_NE(nullptr, GetDlgItem(panel, control.id)) << "no control " << control.id;
    if (control.text) {
      EXPECT_EQ(control.text, ui::windowText(GetDlgItem(panel, control.id))) << control.id;
    }
  }
}

// The panels and their variants.

TEST_F(Panels, TheCommandsOpenThePanelsWithTheirControlsAndMoreAndLessSwitchTheVariantAtTheIdleStep) {
  plugUsbCamera();
  start();
  EXPECT_FALSE(enabled(CM_CAMERA_PANEL));  // not before the camera is powered
  EXPECT_FALSE(enabled(CM_COLOUR_PANEL));
  settle();
  EXPECT_TRUE(enabled(CM_CAMERA_PANEL));
  EXPECT_TRUE(toolEnabled(CM_COLOUR_PANEL));

  command(CM_CAMERA_PANEL);
  HWND compact = compactPanel();
  ASSERT_NE(nullptr, compact);
  EXPECT_EQ("Camera Control Panel", caption(compact));
  expectTexts(compact, {{IDC_STILL_IMAGE, "STILL IMAGE"},
                        {IDC_PREVIEW_BUTTON, "PREVIEW"},
                        {IDC_REDRAW_BUTTON, "REDRAW"},
                        {IDC_MORE, "More..."},
                        {IDC_COMPACT_CLOSE, "CLOSE"},
                        {IDC_HELP_BUTTON, "HELP"},
                        {IDC_IMAGE_SIZE, nullptr},
                        {IDC_COLOR_FORMAT, nullptr},
                        {IDC_QUALITY, nullptr},
                        {IDC_BRIGHTNESS, nullptr},
                        {IDC_BRIGHTNESS_EDIT, nullptr},
                        {IDC_SHARPNESS, nullptr},
                        {IDC_SHARPNESS_EDIT, nullptr},
                        {IDC_COLOR_LEVEL, nullptr},
                        {IDC_COLOR_LEVEL_EDIT, nullptr}});
  EXPECT_EQ((std::vector<std::string>{"128 by 96", "160 by 120", "176 by 144", "320 by 240", "352 by 288", "640 by 480",
                                      "1280 by 960"}),
            entries(compact, IDC_IMAGE_SIZE));
  EXPECT_EQ("160 by 120", selected(compact, IDC_IMAGE_SIZE));
  EXPECT_EQ((std::vector<std::string>{"24 bit Color", "8 bit B/W"}), entries(compact, IDC_COLOR_FORMAT));

  click(compact, IDC_MORE);
  EXPECT_EQ(nullptr, cameraPanel()) << "the compact panel closes itself; the full one opens at the idle step";
  settle();
  HWND full = fullPanel();
  ASSERT_NE(nullptr, full);
  EXPECT_EQ(nullptr, compactPanel());
  EXPECT_EQ("Camera Control Panel", caption(full));
  expectTexts(full, {{IDC_STILL_IMAGE, "STILL IMAGE"}, {IDC_PREVIEW_BUTTON, "PREVIEW"},
                     {IDC_REDRAW_BUTTON, "REDRAW"},    {IDC_LESS, "Less..."},
                     {IDC_FULL_CLOSE, "CLOSE"},        {IDC_COLOR_BUTTON, "COLOR"},
                     {IDC_IMAGE_SIZE, nullptr},        {IDC_COLOR_FORMAT, nullptr},
                     {IDC_QUALITY, nullptr},           {IDC_SHUTTER_PRESETS, nullptr},
                     {IDC_AGC_MODE, nullptr},          {IDC_BACK_LIGHT, nullptr},
                     {IDC_BACK_LIGHT_EDIT, nullptr},   {IDC_SHARPNESS, nullptr},
                     {IDC_SHARPNESS_EDIT, nullptr},    {IDC_SHUTTER, nullptr},
                     {IDC_SHUTTER_EDIT, nullptr},      {IDC_AGC_BIAS, nullptr},
                     {IDC_AGC_BIAS_EDIT, nullptr},     {IDC_GAIN, nullptr},
                     {IDC_GAIN_EDIT, nullptr},         {IDC_GAMMA, nullptr},
                     {IDC_GAMMA_EDIT, "2.20"}});
  EXPECT_EQ((std::vector<std::string>{"AGC Off", "AGC Avg Mode", "AGC Center Avg", "AGC Peak Mode"}),
            entries(full, IDC_AGC_MODE));
  EXPECT_EQ("AGC Avg Mode", selected(full, IDC_AGC_MODE));  // "ASC Enable" 1 became 3
  std::vector<std::string> presets;
  for (const camui::ShutterPreset& preset : camui::kViewerShutterPresets) presets.push_back(preset.text);
  EXPECT_EQ(presets, entries(full, IDC_SHUTTER_PRESETS));

  // 555 now toggles the full variant; Less... goes back.
  command(CM_CAMERA_PANEL);
  EXPECT_EQ(nullptr, cameraPanel());
  command(CM_CAMERA_PANEL);
  ASSERT_NE(nullptr, fullPanel());
  click(fullPanel(), IDC_LESS);
  settle();
  EXPECT_NE(nullptr, compactPanel());
  EXPECT_EQ(nullptr, fullPanel());

  command(CM_COLOUR_PANEL);
  HWND colour = colourPanel();
  ASSERT_NE(nullptr, colour);
  EXPECT_EQ("Color Control Panel", caption(colour));
  expectTexts(colour, {{IDC_AWB_TRACKING, "Auto WB Tracking"},
                       {IDC_MANUAL_WB, "Manual White Balance"},
                       {IDOK, "OK"},
                       {IDCANCEL, "Cancel"},
                       {IDC_COLOR_LEVEL, nullptr},
                       {IDC_COLOR_LEVEL_EDIT, nullptr},
                       {IDC_RED_BALANCE, nullptr},
                       {IDC_RED_BALANCE_EDIT, nullptr},
                       {IDC_BLUE_BALANCE, nullptr},
                       {IDC_BLUE_BALANCE_EDIT, nullptr}});
  command(CM_COLOUR_PANEL);
  EXPECT_EQ(nullptr, colourPanel());

  // The full panel's COLOR toggles the colour panel through the idle step.
  click(compactPanel(), IDC_MORE);
  settle();
  click(fullPanel(), IDC_COLOR_BUTTON);
  EXPECT_EQ(nullptr, colourPanel());
  settle();
  EXPECT_NE(nullptr, colourPanel());
  click(fullPanel(), IDC_COLOR_BUTTON);
  settle();
  EXPECT_EQ(nullptr, colourPanel());

  // Power off closes the panels.
  command(CM_COLOUR_PANEL);
  command(CM_POWER);
  EXPECT_EQ(nullptr, cameraPanel());
  EXPECT_EQ(nullptr, colourPanel());
  EXPECT_FALSE(enabled(CM_CAMERA_PANEL));
}

TEST_F(Panels, TheMessageLoopHandsThePanelsTheirKeys) {
  powered();
  command(CM_CAMERA_PANEL);
  HWND panel = compactPanel();
  ASSERT_NE(nullptr, panel);
  // Escape on one of its controls reaches the panel only through the loop's IsDialogMessage.
  PostMessageA(GetDlgItem(panel, IDC_SHARPNESS), WM_KEYDOWN, VK_ESCAPE, 0);
  PostQuitMessage(0);
  app_->run();
  EXPECT_EQ(nullptr, compactPanel());
}

TEST_F(Panels, TheButtonsSetTheCaptureRequests) {
  powered();
  command(CM_CAMERA_PANEL);
  HWND panel = compactPanel();
  click(panel, IDC_STILL_IMAGE);
  EXPECT_TRUE(state().snapshotRequested);
  settle();
  click(panel, IDC_PREVIEW_BUTTON);
  EXPECT_TRUE(state().previewOn);
  click(panel, IDC_REDRAW_BUTTON);
  EXPECT_FALSE(state().redrawRequested) << "no redraw while previewing";
  steps(2);
  click(panel, IDC_STILL_IMAGE);  // ends the preview with a capture
  EXPECT_FALSE(state().previewOn);
  EXPECT_FALSE(state().snapshotRequested);
  settle();
  click(panel, IDC_REDRAW_BUTTON);
  EXPECT_TRUE(state().redrawRequested);
}

// The lists.

TEST_F(Panels, EightBitBlackAndWhiteAtTheThreeSmallestSizesOffersOnlyHighQuality) {
  powered();
  HWND panel = openFull();
  const std::vector<std::string> all = {"High Frame Rate", "Medium Quality", "High Quality"};
  const std::vector<std::string> onlyHigh = {"High Quality"};
  const struct {
    const char* size;
    const char* format;
    LONG resolution;
    bool onlyHighQuality;
  } kCases[] = {
      {"128 by 96", "8 bit B/W", 6, true},      {"160 by 120", "8 bit B/W", 2, true},
      {"176 by 144", "8 bit B/W", 4, true},     {"320 by 240", "8 bit B/W", 1, false},
      {"1280 by 960", "8 bit B/W", 5, false},   {"128 by 96", "24 bit Color", 6, false},
      {"160 by 120", "24 bit Color", 2, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.size) + ", " + c.format);
    choose(panel, IDC_COLOR_FORMAT, c.format);
    choose(panel, IDC_IMAGE_SIZE, c.size);
    EXPECT_EQ(c.resolution, setting(VIEWER_VALUE("Resolution")));
    EXPECT_EQ(c.onlyHighQuality ? onlyHigh : all, entries(panel, IDC_QUALITY));
    choose(panel, IDC_QUALITY, c.onlyHighQuality ? "High Quality" : "High Frame Rate");
    EXPECT_EQ(c.onlyHighQuality ? 255 : 0, setting(VIEWER_VALUE("Image Quality")));
    EXPECT_EQ(c.onlyHighQuality ? 255 : 0, QRGetQuality());
  }
  EXPECT_TRUE(state().configChanged);
  // A menu command's change reaches the open panel at the idle step.
  command(CM_RES_HALF);
  command(CM_QUALITY_MEDIUM);
  settle();
  EXPECT_EQ("320 by 240", selected(panel, IDC_IMAGE_SIZE));
  EXPECT_EQ("Medium Quality", selected(panel, IDC_QUALITY));
  command(CM_COLOUR_MODE);  // "Format" 0 becomes 1
  settle();
  EXPECT_EQ("8 bit B/W", selected(panel, IDC_COLOR_FORMAT));
}

TEST_F(Panels, TheNearestShutterPresetIsSelected) {
  powered();
  HWND panel = openFull();
  const struct {
    LONG shutter;
    const char* preset;
    const char* speed;
  } kCases[] = {
      {265, "1/60th Sec", "59"},      {300, "1/50th Sec", "52"},   {0, "Fastest", "31500"},
      {1, "1/10,000th Sec", "10500"}, {157, "1/100th Sec", "100"}, {3900, "1/4th Sec", "4"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.shutter);
    QRSetShutter(c.shutter);
    window().panels().requestRefresh(viewer::kRefreshGainShutter);
    settle();
    EXPECT_EQ(c.preset, selected(panel, IDC_SHUTTER_PRESETS));
    EXPECT_EQ(std::to_string(camui::shutterSpeed(c.shutter)), text(panel, IDC_SHUTTER_EDIT));
    EXPECT_EQ(c.shutter, setting(VIEWER_VALUE("Shutter Value")));
    EXPECT_EQ(camui::positionForShutter(c.shutter), barPosition(panel, IDC_SHUTTER));
  }
}

TEST_F(Panels, TheShutterBarAndThePresetsSetShutterAndScanFrequency) {
  powered();
  HWND panel = openFull();
  const struct {
    int position;
    LONG shutter, frequency;
    const char* preset;
  } kBar[] = {{249, 3900, 400, "1/4th Sec"},
              {100, 100, 6000, "1/100th Sec"},
              {150, 151, 6000, "1/100th Sec"},
              {200, 294, 5306, "1/50th Sec"}};
  for (const auto& c : kBar) {
    SCOPED_TRACE(c.position);
    scrollTo(panel, IDC_SHUTTER, c.position);
    EXPECT_EQ(c.shutter, QRGetShutter());
    EXPECT_EQ(c.frequency, QRGetScanFreq());
    EXPECT_EQ(c.shutter, setting(VIEWER_VALUE("Shutter Value")));
    EXPECT_EQ(c.frequency, setting(VIEWER_VALUE("Frequency")));
    EXPECT_EQ(c.position, barPosition(panel, IDC_SHUTTER));
    EXPECT_EQ(c.preset, selected(panel, IDC_SHUTTER_PRESETS));
  }
  for (const camui::ShutterPreset& preset : camui::kViewerShutterPresets) {
    SCOPED_TRACE(preset.text);
    choose(panel, IDC_SHUTTER_PRESETS, preset.text);
    EXPECT_EQ(preset.shutter, QRGetShutter());
    EXPECT_EQ(preset.frequency, QRGetScanFreq());
    EXPECT_EQ(preset.frequency, setting(VIEWER_VALUE("Frequency")));
    EXPECT_EQ(std::to_string(camui::shutterSpeed(preset.shutter)), text(panel, IDC_SHUTTER_EDIT));
  }
}

TEST_F(Panels, TheAutomaticGainModesSwapTheManualControlsAndOffTakesTheCamerasGain) {
  powered();
  HWND panel = openFull();
  EXPECT_TRUE(controlEnabled(panel, IDC_SHUTTER));
  EXPECT_FALSE(controlEnabled(panel, IDC_AGC_BIAS));
  const struct {
    const char* item;
    LONG mode;
  } kModes[] = {{"AGC Center Avg", 7}, {"AGC Peak Mode", 15}, {"AGC Avg Mode", 3}};
  for (const auto& c : kModes) {
    choose(panel, IDC_AGC_MODE, c.item);
    EXPECT_EQ(c.mode, QRGetAGCMode()) << c.item;
    EXPECT_EQ(c.mode, setting(VIEWER_VALUE("ASC Enable")));
    for (int id : {IDC_SHUTTER, IDC_SHUTTER_EDIT, IDC_GAIN, IDC_GAIN_EDIT, IDC_SHUTTER_PRESETS})
      EXPECT_FALSE(controlEnabled(panel, id)) << id;
    EXPECT_TRUE(controlEnabled(panel, IDC_AGC_BIAS));
  }
  command(CM_PREVIEW);
  steps(4);  // the camera regulates its gain
  command(CM_PREVIEW);
  settle();
  choose(panel, IDC_AGC_MODE, "AGC Off");
  EXPECT_EQ(0, QRGetAGCMode());
  EXPECT_EQ(QRGetGain(), setting(VIEWER_VALUE("Video Gain")));
  EXPECT_EQ(QRGetScanFreq(), setting(VIEWER_VALUE("Frequency")));
  EXPECT_EQ(setting(VIEWER_VALUE("Video Gain")), barPosition(panel, IDC_GAIN));
  EXPECT_TRUE(controlEnabled(panel, IDC_SHUTTER));
  EXPECT_FALSE(controlEnabled(panel, IDC_AGC_BIAS));
}

// Every bar: its camera call, its setting and its readout.

struct BarCase {
  bool full;
  bool automaticGain;
  int bar;
  int position;
  profiles::ValueId value;
  LONG(WINAPI* cameraValue)();
  LONG camera;
  int edit;
  const char* shown;
};

TEST_F(Panels, EveryBarSendsItsCameraCallAndKeepsItsSetting) {
  powered();
  const BarCase kCases[] = {
      {false, false, IDC_BRIGHTNESS, 200, VIEWER_VALUE("Video Gain"), QRGetGain, 200, IDC_BRIGHTNESS_EDIT, "80"},
      {false, true, IDC_BRIGHTNESS, 40, VIEWER_VALUE("AGC Bias"), QRGetAutoBias, 102, IDC_BRIGHTNESS_EDIT, "40"},
      {false, false, IDC_SHARPNESS, 125, VIEWER_VALUE("Image Sharpness"), QRGetSharpness, 125, IDC_SHARPNESS_EDIT,
       "50"},
      {false, false, IDC_COLOR_LEVEL, 250, VIEWER_VALUE("Saturation"), QRGetChromaSat, 250, IDC_COLOR_LEVEL_EDIT,
       "100"},
      {true, false, IDC_BACK_LIGHT, 50, VIEWER_VALUE("Back Light"), QRGetBLCEn, 50, IDC_BACK_LIGHT_EDIT, "20"},
      {true, false, IDC_SHARPNESS, 10, VIEWER_VALUE("Image Sharpness"), QRGetSharpness, 10, IDC_SHARPNESS_EDIT, "4"},
      {true, false, IDC_GAIN, 249, VIEWER_VALUE("Video Gain"), QRGetGain, 249, IDC_GAIN_EDIT, "99"},
      {true, true, IDC_AGC_BIAS, 100, VIEWER_VALUE("AGC Bias"), QRGetAutoBias, 255, IDC_AGC_BIAS_EDIT, "100"},
      {true, false, IDC_GAMMA, 255, VIEWER_VALUE("Gamma Value"), QRGetGamma, 255, IDC_GAMMA_EDIT, "3.55"},
  };
  for (const BarCase& c : kCases) {
    SCOPED_TRACE(std::to_string(c.bar) + (c.full ? " full" : " compact"));
    setting(VIEWER_VALUE("ASC Enable")) = c.automaticGain ? 3 : 0;
    QRSetAGCMode(c.automaticGain ? 3 : 0);
    HWND panel = openAfresh(c.full);  // its bars set up for the gain mode
    ASSERT_NE(nullptr, panel);
    window().state().configChanged = 0;
    scrollTo(panel, c.bar, c.position);
    EXPECT_EQ(c.camera, c.cameraValue());
    EXPECT_EQ(c.position, setting(c.value));
    EXPECT_EQ(c.position, barPosition(panel, c.bar));
    EXPECT_EQ(c.shown, text(panel, c.edit));
    EXPECT_TRUE(state().configChanged);
  }
}

TEST_F(Panels, TheColourBarsSendBalanceAndSaturationAndCancelPutsThemBackInTheCamera) {
  powered();
  command(CM_CAMERA_PANEL);
  command(CM_COLOUR_PANEL);
  HWND colour = colourPanel();
  const LONG red = QRGetRedBal(), blue = QRGetBlueBal(), saturation = QRGetChromaSat();
  const struct {
    int bar, position;
    LONG(WINAPI* cameraValue)();
    int edit;
    const char* shown;
  } kBars[] = {{IDC_RED_BALANCE, 200, QRGetRedBal, IDC_RED_BALANCE_EDIT, "80"},
               {IDC_BLUE_BALANCE, 30, QRGetBlueBal, IDC_BLUE_BALANCE_EDIT, "12"},
               {IDC_COLOR_LEVEL, 60, QRGetChromaSat, IDC_COLOR_LEVEL_EDIT, "24"}};
  for (const auto& c : kBars) {
    scrollTo(colour, c.bar, c.position);
    EXPECT_EQ(c.position, c.cameraValue()) << c.bar;
    EXPECT_EQ(c.shown, text(colour, c.edit)) << c.bar;
  }
  settle();  // the compact panel follows the saturation
  EXPECT_EQ(60, barPosition(compactPanel(), IDC_COLOR_LEVEL));
  // And the colour panel follows the compact panel's COLOR.
  scrollTo(compactPanel(), IDC_COLOR_LEVEL, 75);
  settle();
  EXPECT_EQ(75, barPosition(colour, IDC_COLOR_LEVEL));
  EXPECT_EQ("30", text(colour, IDC_COLOR_LEVEL_EDIT));

  click(colour, IDCANCEL);
  EXPECT_EQ(nullptr, colourPanel());
  EXPECT_EQ(red, QRGetRedBal());
  EXPECT_EQ(blue, QRGetBlueBal());
  EXPECT_EQ(saturation, QRGetChromaSat());
  EXPECT_EQ(red, setting(VIEWER_VALUE("Red Balance")));
  EXPECT_EQ(blue, setting(VIEWER_VALUE("Blue Balance")));
  EXPECT_EQ(saturation, setting(VIEWER_VALUE("Saturation")));
  settle();
  EXPECT_EQ(saturation, barPosition(compactPanel(), IDC_COLOR_LEVEL));

  // OK keeps what was changed.
  command(CM_COLOUR_PANEL);
  scrollTo(colourPanel(), IDC_RED_BALANCE, 90);
  click(colourPanel(), IDOK);
  EXPECT_EQ(nullptr, colourPanel());
  EXPECT_EQ(90, QRGetRedBal());
  EXPECT_EQ(90, setting(VIEWER_VALUE("Red Balance")));
}

TEST_F(Panels, ManualWhiteBalanceNeedsAFrameAndThenTakesTheCamerasBalance) {
  VCamSetScene(VCAM_SCENE_FLAT_RED);
  powered();
  command(CM_COLOUR_PANEL);
  answers_.plan(IDOK);
  const LONG red = QRGetRedBal();
  click(colourPanel(), IDC_MANUAL_WB);
  ASSERT_EQ(1u, answers_.seen().size());
  EXPECT_EQ("Auto White Balance Error!", answers_.seen()[0].caption);
  EXPECT_EQ(
      "An Image must be previously captured to run the AWB function, capture an image by use of the CAPTURE or "
      "PREVIEW functions, and try again!",
      answers_.seen()[0].text);
  EXPECT_FALSE(answers_.seen()[0].hasIcon);
  EXPECT_EQ(red, QRGetRedBal());
  EXPECT_FALSE(state().redrawRequested);

  command(CM_CAPTURE);
  settle();
  window().state().configChanged = 0;
  click(colourPanel(), IDC_MANUAL_WB);
  EXPECT_EQ(1u, answers_.seen().size());
  const LONG balancedRed = setting(VIEWER_VALUE("Red Balance")), balancedBlue = setting(VIEWER_VALUE("Blue Balance"));
  EXPECT_EQ(QRGetRedBal(), balancedRed);
  EXPECT_EQ(QRGetBlueBal(), balancedBlue);
  EXPECT_LE(balancedRed, 250);
  EXPECT_LE(balancedBlue, 250);
  EXPECT_NE(balancedRed, balancedBlue) << "a red scene is balanced with less red than blue";
  EXPECT_EQ(balancedRed, barPosition(colourPanel(), IDC_RED_BALANCE));
  EXPECT_EQ(balancedBlue, barPosition(colourPanel(), IDC_BLUE_BALANCE));
  EXPECT_TRUE(state().redrawRequested);
  EXPECT_TRUE(state().configChanged);
}

// The live readouts.

TEST_F(Panels, WhileTheCameraRegulatesThePanelsFollowItsGainShutterAndBalance) {
  VCamSetScene(VCAM_SCENE_FLAT_RED);
  powered(false);  // automatic gain on
  HWND full = openFull();
  setting(VIEWER_VALUE("AWB Tracking")) = 0;
  QRSetAWBEn(0);
  command(CM_COLOUR_PANEL);
  HWND colour = colourPanel();
  EXPECT_FALSE(ui::CheckBox(colour, IDC_AWB_TRACKING).checked());
  click(colour, IDC_AWB_TRACKING);
  EXPECT_TRUE(ui::CheckBox(colour, IDC_AWB_TRACKING).checked());
  EXPECT_EQ(1, QRGetAWBEn());
  EXPECT_EQ(1, setting(VIEWER_VALUE("AWB Tracking")));
  const LONG red = setting(VIEWER_VALUE("Red Balance"));
  command(CM_PREVIEW);
  steps(12);
  EXPECT_EQ(std::to_string(camui::percentOf250(QRGetGain())), text(full, IDC_GAIN_EDIT));
  EXPECT_EQ(std::to_string(camui::shutterSpeed(QRGetShutter())), text(full, IDC_SHUTTER_EDIT));
  EXPECT_EQ(QRGetRedBal(), setting(VIEWER_VALUE("Red Balance")));
  EXPECT_EQ(QRGetBlueBal(), setting(VIEWER_VALUE("Blue Balance")));
  EXPECT_NE(red, setting(VIEWER_VALUE("Red Balance"))) << "tracking moved the red balance";
  EXPECT_EQ(setting(VIEWER_VALUE("Red Balance")), barPosition(colour, IDC_RED_BALANCE));
  EXPECT_EQ(setting(VIEWER_VALUE("Blue Balance")), barPosition(colour, IDC_BLUE_BALANCE));
  EXPECT_EQ(std::to_string(camui::percentOf250(QRGetRedBal())), text(colour, IDC_RED_BALANCE_EDIT));
}

// Positions.

TEST_F(Panels, StoredPositionsArePulledOntoTheScreenAndZeroKeepsTheTemplatesPlace) {
  powered();
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  const struct {
    bool colour;
    LONG left, top;
  } kCases[] = {{false, 5000, 4000}, {false, -300, -200}, {false, 0, 0},
                {true, 5000, 4000},  {true, -300, -200},  {true, 0, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.left) + "," + std::to_string(c.top) + (c.colour ? " colour" : " camera"));
    const profiles::ValueId left = c.colour ? VIEWER_VALUE("Color Dialog Left") : VIEWER_VALUE("Dialog Left");
    const profiles::ValueId top = c.colour ? VIEWER_VALUE("Color Dialog Top") : VIEWER_VALUE("Dialog Top");
    setting(left) = c.left;
    setting(top) = c.top;
    command(c.colour ? CM_COLOUR_PANEL : CM_CAMERA_PANEL);
    HWND panel = c.colour ? colourPanel() : cameraPanel();
    ASSERT_NE(nullptr, panel);
    RECT placed;
    GetWindowRect(panel, &placed);
    if (c.left == 0 && c.top == 0) {
      // The template's place: beside the owner's client area, not the screen's corner.
      RECT owner;
      GetWindowRect(frame(), &owner);
      EXPECT_GT(placed.left, owner.left);
      EXPECT_GT(placed.top, owner.top);
    } else {
      EXPECT_GE(placed.left, 0);
      EXPECT_GE(placed.top, 0);
      EXPECT_LE(placed.right, screenWidth);
      EXPECT_LE(placed.bottom, screenHeight);
      EXPECT_TRUE(placed.left == 0 || placed.left == 5 || placed.right == screenWidth);
    }
    window().state().configChanged = 0;
    command(c.colour ? CM_COLOUR_PANEL : CM_CAMERA_PANEL);  // closing keeps where it was
    EXPECT_EQ(placed.left, setting(left));
    EXPECT_EQ(placed.top, setting(top));
    EXPECT_TRUE(state().configChanged);
  }
  // Unmoved, closing changes nothing.
  command(CM_CAMERA_PANEL);
  window().state().configChanged = 0;
  command(CM_CAMERA_PANEL);
  EXPECT_FALSE(state().configChanged);
}

}  // namespace

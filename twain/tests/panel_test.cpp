// The control panel, through Wine's source manager: the source enabled with its user interface,
// the panel driven by its controls' messages, and its ticks by a stand-in for the multimedia
// timer put into the source's imports (the test fires the armed call-back itself). The source's
// waits (the camera button's 200 ms pause) go to a stand-in for Sleep that only counts them.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "camera_controls.h"
#include "import_hook.h"
#include "modal_answerer.h"
#include "profile_store.h"
#include "qrcamlib.h"
#include "qrvcam.h"
#include "source_fixture.h"
#include "../control_panel_ids.h"

namespace twaintest {
namespace {

constexpr char kPanelCaption[] = "Digital Camera Twain Control Panel";

// The multimedia timers the source armed, in order; a killed one is marked.
struct ArmedTimer {
  UINT id, delay;
  LPTIMECALLBACK callback;
  DWORD_PTR user;
  bool killed;
};
std::vector<ArmedTimer> g_timers;
bool g_noTimers = false;
DWORD g_slept = 0;

MMRESULT WINAPI fakeTimeSetEvent(UINT delay, UINT, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags) {
  EXPECT_EQ(UINT(TIME_ONESHOT), flags & TIME_PERIODIC);
  if (g_noTimers) return 0;
  g_timers.push_back({static_cast<UINT>(100 + g_timers.size()), delay, callback, user, false});
  return g_timers.back().id;
}

MMRESULT WINAPI fakeTimeKillEvent(UINT id) {
  for (ArmedTimer& timer : g_timers) {
    if (timer.id == id && !timer.killed) {
      timer.killed = true;
      return TIMERR_NOERROR;
    }
  }
  return MMSYSERR_INVALPARAM;
}

void WINAPI fakeSleep(DWORD milliseconds) { g_slept += milliseconds; }

class Panel : public Source {
 protected:
  Panel() : Source(Route::kManager) {}

  void SetUp() override {
    Source::SetUp();
    g_timers.clear();
    g_noTimers = false;
    g_slept = 0;
  }

  void TearDown() override {
    hooks_.clear();
    Source::TearDown();
  }

  // A profile of this test's choosing, then the source opened with a camera and the hooks put in.
  void openWith(LONG agcMode, LONG buttonMode) {
    profiles::ProfileSettings settings(profiles::kTwainLayout);
    settings[PROFILE_VALUE(profiles::kTwainLayout, "AGC Mode")] = agcMode;
    settings[PROFILE_VALUE(profiles::kTwainLayout, "Button Mode")] = buttonMode;
    settings[PROFILE_VALUE(profiles::kTwainLayout, "Gamma Value")] = 120;
    settings[PROFILE_VALUE(profiles::kTwainLayout, "Shutter Value")] = 260;
    ASSERT_TRUE(profiles::writeCurrentProfile("Twain", 0));
    ASSERT_TRUE(profiles::saveProfile(settings));
    openWithCamera();
    ASSERT_NE(nullptr, module_);
    // A picture nowhere the colour of the panel's background, so that coverage counts it all.
    ASSERT_EQ(1, VCamSetScene(VCAM_SCENE_FLAT_BLUE));
    hook("winmm.dll", "timeSetEvent", reinterpret_cast<void*>(&fakeTimeSetEvent));
    hook("winmm.dll", "timeKillEvent", reinterpret_cast<void*>(&fakeTimeKillEvent));
    hook("kernel32.dll", "Sleep", reinterpret_cast<void*>(&fakeSleep));
  }

  void hook(const char* dll, const char* function, void* replacement) {
    hooks_.emplace_back(new qrtest::ImportHook(module_, dll, function, replacement));
    ASSERT_TRUE(hooks_.back()->installed()) << function;
  }

  HWND enableWithPanel() {
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    panel_ = FindWindowA(nullptr, kPanelCaption);
    EXPECT_NE(nullptr, panel_);
    return panel_;
  }

  // The armed timer the panel waits for (the last one, when it is not killed).
  const ArmedTimer* pendingTimer() const {
    return g_timers.empty() || g_timers.back().killed ? nullptr : &g_timers.back();
  }

  // The pending timer fires, as the system's timer thread would run it; then the application's
  // message loop runs, collecting what the manager hands it.
  void tick() {
    const ArmedTimer* timer = pendingTimer();
    ASSERT_NE(nullptr, timer);
    const ArmedTimer fired = *timer;
    g_timers.back().killed = true;  // a one-shot timer is spent once it has fired
    fired.callback(fired.id, 0, fired.user, 0, 0);
    pump();
  }

  void pump() {
    for (TW_UINT16 msg = nextNotification(); msg != MSG_NULL; msg = nextNotification()) notified_.push_back(msg);
  }

  void click(int id) {
    SendMessageA(panel_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(panel_, id)));
    pump();
  }
  void choose(int id, int item) {
    SendDlgItemMessageA(panel_, id, CB_SETCURSEL, item, 0);
    SendMessageA(panel_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(panel_, id)));
  }
  void scroll(int id, int position) {
    SendMessageA(panel_, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, position),
                 reinterpret_cast<LPARAM>(GetDlgItem(panel_, id)));
  }
  std::string text(int id) const {
    char buffer[128] = {};
    GetDlgItemTextA(panel_, id, buffer, sizeof buffer);
    return buffer;
  }
  std::string chosen(int id) const {
    const LRESULT item = SendDlgItemMessageA(panel_, id, CB_GETCURSEL, 0, 0);
    char buffer[128] = {};
    if (item >= 0) SendDlgItemMessageA(panel_, id, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(buffer));
    return buffer;
  }
  bool enabled(int id) const { return IsWindowEnabled(GetDlgItem(panel_, id)) != FALSE; }

  // The share of the preview area (320 x 240 inside the frame) that is not the background.
  double previewCoverage() {
    HWND control = GetDlgItem(panel_, IDC_PREVIEW_IMAGE);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 324, -244, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const DWORD background = (GetRValue(window) << 16) | (GetGValue(window) << 8) | GetBValue(window);
    int covered = 0;
    const auto* pixels = static_cast<const DWORD*>(bits);
    coveredBox_ = RECT{324, 244, 0, 0};
    for (int y = 2; y < 242; ++y) {
      for (int x = 2; x < 322; ++x) {
        if ((pixels[y * 324 + x] & 0xffffff) == background) continue;
        ++covered;
        coveredBox_ = RECT{std::min<LONG>(coveredBox_.left, x), std::min<LONG>(coveredBox_.top, y),
                           std::max<LONG>(coveredBox_.right, x + 1), std::max<LONG>(coveredBox_.bottom, y + 1)};
      }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return covered / (320.0 * 240.0);
  }

  // Where the last previewCoverage found the picture (control coordinates).
  RECT coveredBox_{};
  HWND panel_ = nullptr;
  std::vector<TW_UINT16> notified_;
  std::vector<std::unique_ptr<qrtest::ImportHook>> hooks_;
};

TEST_F(Panel, OpensWithItsSettingsAndPreviewsAtEachTick) {
  openWith(0, 0);
  ASSERT_NE(nullptr, enableWithPanel());
  EXPECT_EQ(nullptr, GetWindow(panel_, GW_OWNER));
  EXPECT_TRUE(IsWindowVisible(panel_));
  ASSERT_NE(nullptr, pendingTimer());
  EXPECT_EQ(333u, pendingTimer()->delay);
  EXPECT_EQ("STOP PREVIEW", text(IDC_PREVIEW));
  EXPECT_FALSE(enabled(IDC_REDRAW));
  EXPECT_EQ("2.20", text(IDC_GAMMA_EDIT));
  EXPECT_EQ("60", text(IDC_SHUTTER_EDIT));
  EXPECT_EQ("1/60th Sec", chosen(IDC_SHUTTER_SPEED));
  EXPECT_EQ("AGC Off", chosen(IDC_AGC_MODE));
  EXPECT_TRUE(enabled(IDC_SHUTTER));
  EXPECT_FALSE(enabled(IDC_AGC_BIAS));
  EXPECT_DOUBLE_EQ(0.0, previewCoverage());  // no frame yet

  tick();
  EXPECT_GT(previewCoverage(), 0.99);  // a 320 x 240 preview fills the area
  ASSERT_NE(nullptr, pendingTimer());
  EXPECT_EQ(50u, pendingTimer()->delay);
  // A WM_TIMER of another timer is not a tick: nothing is armed for it.
  const size_t armed = g_timers.size();
  SendMessageA(panel_, WM_TIMER, 12345, 0);
  EXPECT_EQ(armed, g_timers.size());
  EXPECT_TRUE(notified_.empty());
}

TEST_F(Panel, AcquireAnnouncesAnImageThatTransfersAndTheNextTickWaitsASecond) {
  openWith(3, 0);
  ASSERT_NE(nullptr, enableWithPanel());
  tick();
  click(IDC_ACQUIRE);
  EXPECT_EQ(std::vector<TW_UINT16>{MSG_XFERREADY}, notified_);
  ASSERT_NE(nullptr, pendingTimer());
  EXPECT_EQ(1000u, pendingTimer()->delay);
  TW_IMAGEINFO info{};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
  EXPECT_EQ(640, info.ImageWidth);
  EXPECT_EQ(480, info.ImageLength);
  TW_HANDLE dib = nullptr;
  ASSERT_EQ(TWRC_XFERDONE, call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
  ASSERT_NE(nullptr, dib);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
  EXPECT_EQ(640, header->biWidth);
  EXPECT_EQ(24, header->biBitCount);
  GlobalUnlock(dib);
  GlobalFree(dib);
  TW_PENDINGXFERS pending{};
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
  // The panel stays up and acquires again.
  click(IDC_ACQUIRE);
  EXPECT_EQ((std::vector<TW_UINT16>{MSG_XFERREADY, MSG_XFERREADY}), notified_);
}

// "Button Mode" 0 runs the preview button's action, 1 acquires; the tick after a press only
// clears the camera's latch, after a 200 ms pause, whatever the button does meanwhile.
TEST_F(Panel, ACameraButtonPressActsOnceAndTheNextTickOnlyClearsTheLatch) {
  for (LONG buttonMode : {0, 1}) {
    SCOPED_TRACE(buttonMode);
    openWith(3, buttonMode);
    ASSERT_NE(nullptr, enableWithPanel());
    ASSERT_EQ(1, VCamSetButton(0, 1));
    tick();
    if (buttonMode == 0) {
      EXPECT_EQ("START PREVIEW", text(IDC_PREVIEW));
      EXPECT_TRUE(notified_.empty());
    } else {
      EXPECT_EQ("STOP PREVIEW", text(IDC_PREVIEW));
      EXPECT_EQ(std::vector<TW_UINT16>{MSG_XFERREADY}, notified_);
    }
    EXPECT_EQ(0u, g_slept);
    const std::vector<TW_UINT16> before = notified_;
    const std::string previewText = text(IDC_PREVIEW);
    tick();  // still pressed: only the latch is cleared
    EXPECT_EQ(200u, g_slept);
    EXPECT_EQ(before, notified_);
    EXPECT_EQ(previewText, text(IDC_PREVIEW));
    ASSERT_EQ(1, VCamSetButton(0, 0));
    tick();
    EXPECT_EQ(before, notified_);
    EXPECT_EQ(previewText, text(IDC_PREVIEW));

    TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
    EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    hooks_.clear();
    notified_.clear();
    g_timers.clear();
    g_slept = 0;
  }
}

TEST_F(Panel, ASizeOrRotationChangeBlanksThePreviewUntilTheNextFrame) {
  openWith(3, 0);
  ASSERT_NE(nullptr, enableWithPanel());
  tick();
  ASSERT_GT(previewCoverage(), 0.99);
  choose(IDC_IMAGE_SIZE, 0);  // "160 by 120"
  pump();  // however often it is painted
  EXPECT_DOUBLE_EQ(0.0, previewCoverage());
  tick();
  EXPECT_DOUBLE_EQ(160.0 * 120 / (320 * 240), previewCoverage());
  EXPECT_EQ(2, coveredBox_.left);  // unscaled, at the area's corner
  EXPECT_EQ(2, coveredBox_.top);

  click(IDC_ROTATE_LEFT);
  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(panel_, IDC_ROTATE_LEFT));
  EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(panel_, IDC_ROTATE_OFF));
  EXPECT_DOUBLE_EQ(0.0, previewCoverage());
  tick();
  EXPECT_DOUBLE_EQ(120.0 * 160 / (320 * 240), previewCoverage());  // turned a quarter, centred
  EXPECT_EQ(2 + 100, coveredBox_.left);
  EXPECT_EQ(2 + 40, coveredBox_.top);
  EXPECT_EQ(2 + 100 + 120, coveredBox_.right);
  EXPECT_EQ(2 + 40 + 160, coveredBox_.bottom);
}

TEST_F(Panel, WithoutATimerThePreviewButtonCapturesOneFramePerPress) {
  openWith(3, 0);
  g_noTimers = true;
  qrtest::ModalAnswerer answerer;
  answerer.plan(IDOK);
  ASSERT_NE(nullptr, enableWithPanel());
  // The box comes while the panel is being made, without an owner; the answerer then sees the
  // panel itself as a dialog (and leaves it, unplanned).
  ASSERT_EQ(2u, answerer.seen().size());
  EXPECT_EQ("Quorel Digital Camera Twain Driver", answerer.seen()[0].caption);
  EXPECT_EQ("Out of Timers, SnapShot button may be inoperative", answerer.seen()[0].text);
  EXPECT_TRUE(answerer.seen()[0].hasIcon);
  EXPECT_EQ(kPanelCaption, answerer.seen()[1].caption);
  pump();
  EXPECT_EQ("CAPTURE", text(IDC_PREVIEW));
  EXPECT_GT(previewCoverage(), 0.99);  // the one frame of the set-up
  VCamDeviceStatus status{};
  ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
  const DWORD frames = status.framesDelivered;
  for (DWORD press = 1; press <= 2; ++press) {
    click(IDC_PREVIEW);
    ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
    EXPECT_EQ(frames + press, status.framesDelivered);
    EXPECT_EQ("CAPTURE", text(IDC_PREVIEW));
  }
  EXPECT_TRUE(g_timers.empty());
}

TEST_F(Panel, TheShutterControlsFollowTheTableAndTheNearestPreset) {
  openWith(3, 0);
  ASSERT_NE(nullptr, enableWithPanel());
  EXPECT_FALSE(enabled(IDC_SHUTTER));
  EXPECT_TRUE(enabled(IDC_AGC_BIAS));
  choose(IDC_AGC_MODE, 0);
  EXPECT_EQ(0, QRGetAGCMode());
  EXPECT_TRUE(enabled(IDC_SHUTTER));
  EXPECT_FALSE(enabled(IDC_AGC_BIAS));

  scroll(IDC_SHUTTER, 201);  // shutter 15600 / 52 = 300
  EXPECT_EQ(300, QRGetShutter());
  EXPECT_EQ(5200, QRGetScanFreq());
  EXPECT_EQ("52", text(IDC_SHUTTER_EDIT));
  EXPECT_EQ("1/50th Sec", chosen(IDC_SHUTTER_SPEED));

  choose(IDC_SHUTTER_SPEED, 13);  // "1/7th Sec": this source's own frequency
  EXPECT_EQ(2080, QRGetShutter());
  EXPECT_EQ(700, QRGetScanFreq());
  EXPECT_EQ(camui::positionForShutter(2080), SendDlgItemMessageA(panel_, IDC_SHUTTER, SBM_GETPOS, 0, 0));
}

TEST_F(Panel, EverySliderSendsItsCameraCallAndShowsItsValue) {
  openWith(0, 0);
  ASSERT_NE(nullptr, enableWithPanel());
  const struct {
    int bar, edit, position;
    LONG(WINAPI* camera)();
    LONG expected;
    const char* shown;
  } kSliders[] = {
      {IDC_GAIN, IDC_GAIN_EDIT, 200, QRGetGain, 200, "80"},
      {IDC_SHARPNESS, IDC_SHARPNESS_EDIT, 250, QRGetSharpness, 250, "100"},
      {IDC_COLOR_LEVEL, IDC_COLOR_LEVEL_EDIT, 60, QRGetChromaSat, 60, "24"},
      {IDC_RED, IDC_RED_EDIT, 90, QRGetRedBal, 90, "36"},
      {IDC_BLUE, IDC_BLUE_EDIT, 160, QRGetBlueBal, 160, "64"},
      {IDC_GAMMA, IDC_GAMMA_EDIT, 255, QRGetGamma, 255, "3.55"},
      {IDC_AGC_BIAS, IDC_AGC_BIAS_EDIT, 100, QRGetAutoBias, 255, "100"},
  };
  for (const auto& slider : kSliders) {
    scroll(slider.bar, slider.position);
    EXPECT_EQ(slider.expected, slider.camera()) << slider.bar;
    EXPECT_EQ(slider.shown, text(slider.edit)) << slider.bar;
    EXPECT_EQ(slider.position, SendDlgItemMessageA(panel_, slider.bar, SBM_GETPOS, 0, 0)) << slider.bar;
  }
}

TEST_F(Panel, AboutShowsTheCameraInformationUnderThisSourcesCaption) {
  openWith(3, 0);
  ASSERT_NE(nullptr, enableWithPanel());
  qrtest::ModalAnswerer answerer;
  answerer.plan(IDOK);
  click(IDC_ABOUT);
  ASSERT_EQ(1u, answerer.seen().size());
  EXPECT_EQ("Digital Camera Information", answerer.seen()[0].caption);
  EXPECT_EQ(0u, answerer.unexpected());
}

TEST_F(Panel, CloseAsksTheApplicationAndDisableDestroysThePanelAndItsTimer) {
  openWith(3, 0);
  ASSERT_NE(nullptr, enableWithPanel());
  tick();
  click(IDC_CLOSE);
  EXPECT_EQ(std::vector<TW_UINT16>{MSG_CLOSEDSREQ}, notified_);
  EXPECT_TRUE(IsWindow(panel_));
  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
  EXPECT_FALSE(IsWindow(panel_));
  EXPECT_EQ(nullptr, pendingTimer());
}

TEST_F(Panel, CloseWithoutDisableLeavesNoWindowAndNoTimer) {
  openWith(3, 0);
  ASSERT_NE(nullptr, enableWithPanel());
  ASSERT_NE(nullptr, pendingTimer());
  const ArmedTimer armed = *pendingTimer();
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
  EXPECT_FALSE(IsWindow(panel_));
  EXPECT_EQ(nullptr, pendingTimer());
  // The killed timer's call-back, had the system already been running it, posts nothing.
  armed.callback(armed.id, 0, armed.user, 0, 0);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
}

}  // namespace
}  // namespace twaintest

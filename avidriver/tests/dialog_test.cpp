// The driver's dialogs as a capture application opens them: DVM_DIALOG on the external-input
// channel (the source dialog) and on the video-input channel (the format dialog), each modal on
// this thread. A window hook on this thread hands every dialog, right after its WM_INITDIALOG, to
// the next step of the test's script; a step drives the dialog by messages and posts the button
// that closes it. Nothing waits: the dialog's own modal loop carries the posted clicks out.
#include <windows.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "dialog_ids.h"
#include "driver_fixture.h"
#include "import_hook.h"
#include "profile_store.h"
#include "qrcamlib.h"
#include "quorelreg.h"

namespace {

using avitest::CaptureDriver;
using namespace avi;

using Step = std::function<void(HWND dialog)>;

// The steps, one for each dialog (message boxes included) in the order they open.
class DialogScript {
 public:
  explicit DialogScript(std::deque<Step> steps) : steps_(std::move(steps)) {
    current_ = this;
    hook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, &DialogScript::hookProc, nullptr, GetCurrentThreadId());
  }
  ~DialogScript() {
    UnhookWindowsHookEx(hook_);
    current_ = nullptr;
  }
  std::size_t left() const { return steps_.size(); }
  int unexpected() const { return unexpected_; }

 private:
  static LRESULT CALLBACK hookProc(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG && current_) current_->next(call->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  void next(HWND dialog) {
    if (steps_.empty()) {
      ++unexpected_;
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step(dialog);
  }
  static DialogScript* current_;
  HHOOK hook_;
  std::deque<Step> steps_;
  int unexpected_ = 0;
};
DialogScript* DialogScript::current_ = nullptr;

// What a person does in a dialog.
void scrollTo(HWND dialog, int bar, int position) {
  SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, position),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, bar)));
}
void choose(HWND dialog, int list, int item) {
  SendDlgItemMessageA(dialog, list, CB_SETCURSEL, item, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(dialog, list)));
}
void toggle(HWND dialog, int box) {
  const bool on = SendDlgItemMessageA(dialog, box, BM_GETCHECK, 0, 0) == BST_CHECKED;
  SendDlgItemMessageA(dialog, box, BM_SETCHECK, on ? BST_UNCHECKED : BST_CHECKED, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(box, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, box)));
}
void press(HWND dialog, int button) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); }
std::string text(HWND window) {
  char buffer[256] = "";
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}
std::string field(HWND dialog, int id) { return text(GetDlgItem(dialog, id)); }
std::string listEntry(HWND dialog, int list, int item) {
  char buffer[256] = "";
  SendDlgItemMessageA(dialog, list, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}
int selected(HWND dialog, int list) { return static_cast<int>(SendDlgItemMessageA(dialog, list, CB_GETCURSEL, 0, 0)); }
int barPosition(HWND dialog, int bar) { return GetScrollPos(GetDlgItem(dialog, bar), SB_CTL); }
bool isFull(HWND dialog) { return GetDlgItem(dialog, IDC_SRC_AGC_MODE) != nullptr; }
POINT topLeft(HWND dialog) {
  RECT frame{};
  GetWindowRect(dialog, &frame);
  return POINT{frame.left, frame.top};
}

LONG stored(const char* name) {
  profiles::ProfileSettings settings(profiles::kCaptureDriverLayout);
  profiles::loadProfile(settings);
  return settings[settings.find(name)];
}

class DriverDialogs : public CaptureDriver {
 protected:
  void SetUp() override {
    CaptureDriver::SetUp();
    // The source dialog's form is kept while the driver is loaded: each test starts with a fresh one.
    ASSERT_EQ(nullptr, GetModuleHandleA("quorelavi.dll"));
    ExtRegSaveVal("AVI", nullptr, "Installation Test", 0);
  }
  void openBoth(std::initializer_list<std::pair<const char*, LONG>> values) {
    storeProfile(values);
    external_ = openWithCamera(kVideoExternalIn);
    ASSERT_NE(nullptr, external_);
    video_ = open(kVideoIn);
    ASSERT_NE(nullptr, video_);
  }
  // DVM_DIALOG with the script; every step used, no dialog left unplanned.
  void runDialog(HDRVR channel, std::deque<Step> steps, LPARAM client = 0) {
    DialogScript script(std::move(steps));
    EXPECT_EQ(0, send(channel, kDvmDialog, client, 0));
    EXPECT_EQ(0u, script.left());
    EXPECT_EQ(0, script.unexpected());
  }
  HDRVR external_ = nullptr;
  HDRVR video_ = nullptr;
};

TEST_F(DriverDialogs, TheQueryOpensNothingAndSaysBothChannelsHaveADialog) {
  ASSERT_NO_FATAL_FAILURE(openBoth({}));
  DialogScript script({});
  EXPECT_EQ(0, send(external_, kDvmDialog, 0, 0x10));
  EXPECT_EQ(0, send(video_, kDvmDialog, 0, 0x10));
  EXPECT_EQ(0, script.unexpected());
}

// The owner: the client window's top child; without one the active window, or that window's own
// owner when the client is not the active window.
TEST_F(DriverDialogs, TheDialogsOwnerFollowsTheClientWindowAndTheActiveWindow) {
  ASSERT_NO_FATAL_FAILURE(openBoth({}));
  auto window = [](HWND parent, DWORD style) {
    return CreateWindowExA(0, "STATIC", "", style, 0, 0, 50, 50, parent, nullptr, nullptr, nullptr);
  };
  HWND client = window(nullptr, WS_POPUP | WS_VISIBLE);
  HWND owner = window(nullptr, WS_POPUP | WS_VISIBLE);
  HWND active = window(owner, WS_POPUP | WS_VISIBLE);
  SetActiveWindow(active);
  ASSERT_EQ(active, GetActiveWindow());
  HWND seen = nullptr;
  const Step noteOwner = [&](HWND d) {
    seen = GetWindow(d, GW_OWNER);
    press(d, IDCANCEL);
  };
  runDialog(video_, {noteOwner}, reinterpret_cast<LPARAM>(client));
  EXPECT_EQ(owner, seen);
  // The client's own window when it is the active one.
  SetActiveWindow(client);
  runDialog(video_, {noteOwner}, reinterpret_cast<LPARAM>(client));
  EXPECT_EQ(client, seen);
  for (HWND w : {active, owner, client}) DestroyWindow(w);
}

TEST_F(DriverDialogs, CancelAfterMovingTheColourLevelKeepsTheProfileAndSendsTheLevelBack) {
  ASSERT_NO_FATAL_FAILURE(openBoth({{"Color Saturation", 100}}));
  LONG whileOpen = 0;
  std::string percent;
  runDialog(external_, {[&](HWND d) {
              scrollTo(d, IDC_SRC_COLOR, 200);
              whileOpen = QRGetChromaSat();
              percent = field(d, IDC_SRC_COLOR_FIELD);
              press(d, IDCANCEL);
            }});
  EXPECT_EQ(200, whileOpen);
  EXPECT_EQ("80", percent);
  EXPECT_EQ(100, QRGetChromaSat());
  // The profile the driver holds is what the client's save stores.
  EXPECT_EQ(0, send(video_, kDvmConfigureStorage, 0, kConfigureStorageSet));
  EXPECT_EQ(100, stored("Color Saturation"));
}

TEST_F(DriverDialogs, TheSourceDialogsOkKeepsTheStoredFormatAndTheFormatDialogsOkSetsIt) {
  ASSERT_NO_FATAL_FAILURE(openBoth({{"Resolution", 1}, {"Format", 0}, {"Color Saturation", 100}}));
  ASSERT_EQ(0, setFormat(video_, 160, 120, BI_RGB, 8));  // codes 2 and 1 in the driver only
  std::string title;
  runDialog(external_, {[&](HWND d) {
              title = text(d);
              scrollTo(d, IDC_SRC_COLOR, 150);
              press(d, IDOK);
            }});
  EXPECT_EQ("Camera in 160x120 - 8 bit B/W", title);
  EXPECT_EQ(150, stored("Color Saturation"));
  EXPECT_EQ(1, stored("Resolution"));
  EXPECT_EQ(0, stored("Format"));

  std::string sizes, colours;
  int sizeShown = -1, colourShown = -1;
  runDialog(video_, {[&](HWND d) {
              title = text(d);
              for (int i = 0; i < 6; ++i) sizes += listEntry(d, IDC_FMT_SIZE, i) + ";";
              for (int i = 0; i < 6; ++i) colours += listEntry(d, IDC_FMT_COLOR, i) + ";";
              sizeShown = selected(d, IDC_FMT_SIZE);
              colourShown = selected(d, IDC_FMT_COLOR);
              choose(d, IDC_FMT_SIZE, 5);    // 640 by 480: code 0
              choose(d, IDC_FMT_COLOR, 3);   // YUV9: code 5
              press(d, IDOK);
            }});
  EXPECT_EQ("Camera Format Controls", title);
  EXPECT_EQ("128 by 96;160 by 120;176 by 144;320 by 240;352 by 288;640 by 480;", sizes);
  EXPECT_EQ("24 bit Color;8 bit B/W;16 bit Color;YUV9 Color;YUV12 Color;YUV16 Color;", colours);
  EXPECT_EQ(1, sizeShown);
  EXPECT_EQ(1, colourShown);
  EXPECT_EQ(0, stored("Resolution"));
  EXPECT_EQ(5, stored("Format"));
  EXPECT_EQ(150, stored("Color Saturation"));
}

TEST_F(DriverDialogs, TheFirstDialogIsCompactAndAfterMoreAndOkTheNextIsFull) {
  ASSERT_NO_FATAL_FAILURE(openBoth({}));
  std::vector<bool> forms;
  auto note = [&](int button) { return [&, button](HWND d) { forms.push_back(isFull(d)); press(d, button); }; };
  runDialog(external_, {note(IDC_SRC_MORE), note(IDOK)});
  runDialog(external_, {note(IDC_SRC_LESS), note(IDCANCEL)});
  runDialog(external_, {note(IDCANCEL)});
  EXPECT_EQ((std::vector<bool>{false, true, true, false, false}), forms);
}

TEST_F(DriverDialogs, TheInstallationTestPlacesTheCompactFormFromTheScreensRightAndTheFullFormKeepsOnTheScreen) {
  ASSERT_NO_FATAL_FAILURE(openBoth({{"Src Dialog Left", 0}, {"Src Dialog Top", 0}}));
  ExtRegSaveVal("AVI", nullptr, "Installation Test", 1);
  ExtRegSaveVal("AVI", nullptr, "Test X Offset", 100);
  ExtRegSaveVal("AVI", nullptr, "Test Y Offset", 50);
  const LONG width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  POINT compact{}, full{};
  runDialog(external_, {[&](HWND d) {
                          compact = topLeft(d);
                          press(d, IDC_SRC_MORE);
                        },
                        [&](HWND d) {
                          full = topLeft(d);
                          press(d, IDCANCEL);
                        }});
  // On a 1024 x 768 screen: 613, 50.
  const LONG left = width - 100 - 311 < 0 ? 5 : width - 100 - 311;
  EXPECT_EQ(left, compact.x);
  EXPECT_EQ(std::min<LONG>(50, height - 240), compact.y);
  // More... stored the compact form's place; the full form, taller, is kept above the bottom.
  EXPECT_EQ(left, full.x);
  EXPECT_EQ(std::min<LONG>(compact.y, height - 405), full.y);
}

TEST_F(DriverDialogs, ClosingTheLastChannelClosesTheFormatDialogUnsaved) {
  storeProfile({{"Resolution", 1}, {"Format", 0}, {"Format Dialog Left", 100}});
  video_ = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video_);
  DRIVERPROC proc = driverProc(video_);
  runDialog(video_, {[&](HWND d) {
    choose(d, IDC_FMT_SIZE, 5);
    SetWindowPos(d, nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    // The driver's own close of the last channel (winmm would unload it under the dialog).
    proc(kVideoInId, video_, DRV_CLOSE, 0, 0);
  }});
  EXPECT_EQ(1, stored("Resolution"));
  EXPECT_EQ(100, stored("Format Dialog Left"));
}

TEST_F(DriverDialogs, TheFullFormSetsTheShutterAndGainModeAndItsTickShowsTheCamerasBalances) {
  ASSERT_NO_FATAL_FAILURE(openBoth({{"ASC Enable", 0}, {"AWB Tracking", 0}, {"Shutter Value", 260}}));
  LONG shutter = 0, frequency = 0, mode = -1, red = -1;
  std::string speed, slowest, agcEntry;
  bool shutterEnabled = true, brightnessEnabled = false;
  int redShown = -1;
  std::string redField;
  runDialog(external_, {[&](HWND d) { press(d, IDC_SRC_MORE); },
                        [&](HWND d) {
                          speed = field(d, IDC_SRC_SHUTTER_FIELD);
                          scrollTo(d, IDC_SRC_SHUTTER, 249);
                          shutter = QRGetShutter();
                          frequency = QRGetScanFreq();
                          slowest = field(d, IDC_SRC_SHUTTER_FIELD);
                          choose(d, IDC_SRC_AGC_MODE, 1);
                          agcEntry = listEntry(d, IDC_SRC_AGC_MODE, 1);
                          mode = QRGetAGCMode();
                          shutterEnabled = IsWindowEnabled(GetDlgItem(d, IDC_SRC_SHUTTER)) != FALSE;
                          brightnessEnabled = IsWindowEnabled(GetDlgItem(d, IDC_SRC_BRIGHTNESS)) != FALSE;
                          toggle(d, IDC_SRC_AWB_TRACKING);
                          SendMessageA(d, WM_TIMER, 1, 0);
                          red = QRGetRedBal();
                          redShown = barPosition(d, IDC_SRC_RED);
                          redField = field(d, IDC_SRC_RED_FIELD);
                          press(d, IDCANCEL);
                        }});
  EXPECT_EQ("60", speed);
  EXPECT_EQ(3900, shutter);
  EXPECT_EQ(400, frequency);
  EXPECT_EQ("4", slowest);
  EXPECT_EQ("AGC Avg Mode", agcEntry);
  EXPECT_EQ(3, mode);
  EXPECT_FALSE(shutterEnabled);
  EXPECT_TRUE(brightnessEnabled);
  EXPECT_EQ(std::min<LONG>(red, 250), redShown);
  EXPECT_EQ(std::to_string(std::min<LONG>(red, 250) * 100 / 250), redField) << red;
}

TEST_F(DriverDialogs, EachSliderOfTheFullFormSetsItsCameraValueAndShowsItsField) {
  // Every value starts elsewhere than where its slider is moved to.
  ASSERT_NO_FATAL_FAILURE(openBoth({{"ASC Enable", 0}, {"AWB Tracking", 0}, {"Image Sharpness", 10}, {"AGC Bias", 10},
                                    {"Gamma Value", 10}, {"Video Gain", 10}, {"Color Saturation", 10},
                                    {"Red Balance", 10}, {"Blue Balance", 10}, {"BLC Value", 10}}));
  const struct {
    int bar, position;
    LONG(WINAPI* camera)();
    LONG sent;
    int field;
    const char* shown;
  } rows[] = {
      {IDC_SRC_SHARPNESS, 137, &QRGetSharpness, 137, IDC_SRC_SHARPNESS_FIELD, "54"},
      {IDC_SRC_BRIGHTNESS, 40, &QRGetAutoBias, 102, IDC_SRC_BRIGHTNESS_FIELD, "40"},  // 40 % of 255
      {IDC_SRC_GAMMA, 133, &QRGetGamma, 133, IDC_SRC_GAMMA_FIELD, "2.33"},
      {IDC_SRC_GAIN, 210, &QRGetGain, 210, IDC_SRC_GAIN_FIELD, "84"},
      {IDC_SRC_COLOR, 55, &QRGetChromaSat, 55, IDC_SRC_COLOR_FIELD, "22"},
      {IDC_SRC_RED, 80, &QRGetRedBal, 80, IDC_SRC_RED_FIELD, "32"},
      {IDC_SRC_BLUE, 170, &QRGetBlueBal, 170, IDC_SRC_BLUE_FIELD, "68"},
      {IDC_SRC_BACKLIGHT, 30, &QRGetBLCEn, 30, IDC_SRC_BACKLIGHT_FIELD, "12"},
  };
  std::vector<LONG> sent;
  std::vector<std::string> shown;
  runDialog(external_, {[&](HWND d) { press(d, IDC_SRC_MORE); },
                        [&](HWND d) {
                          for (const auto& row : rows) {
                            scrollTo(d, row.bar, row.position);
                            sent.push_back(row.camera());
                            shown.push_back(field(d, row.field));
                          }
                          press(d, IDOK);
                        }});
  ASSERT_EQ(std::size(rows), sent.size());
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(rows[i].sent, sent[i]) << "bar " << rows[i].bar;
    EXPECT_EQ(rows[i].shown, shown[i]) << "bar " << rows[i].bar;
  }
}

// The driver's colour-level calls to the camera library, counted.
struct ChromaCalls {
  static LONG count;
  static qrtest::ImportHook* hook;
  static LONG WINAPI counting(LONG value) {
    ++count;
    return hook->original<LONG(WINAPI*)(LONG)>()(value);
  }
};
LONG ChromaCalls::count = 0;
qrtest::ImportHook* ChromaCalls::hook = nullptr;

TEST_F(DriverDialogs, ClosingTheLastChannelCancelsTheSourceDialogWhichThenLeavesTheReleasedCameraAlone) {
  storeProfile({{"Color Saturation", 100}});
  external_ = openWithCamera(kVideoExternalIn);
  ASSERT_NE(nullptr, external_);
  qrtest::ImportHook hook(GetModuleHandleA("quorelavi.dll"), "qrcamlib.dll", "QRSetChromaSat",
                          reinterpret_cast<void*>(&ChromaCalls::counting));
  ASSERT_TRUE(hook.installed());
  ChromaCalls::hook = &hook;
  ChromaCalls::count = 0;
  DRIVERPROC proc = driverProc(external_);
  LONG beforeClose = 0, afterClose = 0;
  runDialog(external_, {[&](HWND d) {
    scrollTo(d, IDC_SRC_COLOR, 200);
    beforeClose = ChromaCalls::count;
    proc(kExternalInId, external_, DRV_CLOSE, 0, 0);
    // A move that reaches the dialog before it has gone.
    scrollTo(d, IDC_SRC_COLOR, 50);
    afterClose = ChromaCalls::count;
  }});
  ChromaCalls::hook = nullptr;
  EXPECT_EQ(1, beforeClose);
  EXPECT_EQ(1, afterClose);
}

// The driver's window timer, refused.
UINT_PTR WINAPI noTimer(HWND, UINT_PTR, UINT, TIMERPROC) { return 0; }

TEST_F(DriverDialogs, WithoutATimerTheFullFormSaysSoAndStillOpens) {
  ASSERT_NO_FATAL_FAILURE(openBoth({}));
  qrtest::ImportHook timer(GetModuleHandleA("quorelavi.dll"), "user32.dll", "SetTimer",
                           reinterpret_cast<void*>(&noTimer));
  ASSERT_TRUE(timer.installed());
  std::string caption, message;
  bool full = false;
  runDialog(external_, {[&](HWND d) { press(d, IDC_SRC_MORE); },
                        [&](HWND box) {
                          caption = text(box);
                          message = field(box, 0xFFFF);
                          press(box, IDOK);
                        },
                        [&](HWND d) {
                          full = isFull(d);
                          press(d, IDCANCEL);
                        }});
  EXPECT_EQ("Sentrio V2 DigiCam AVI Driver", caption);
  EXPECT_EQ("Out of Timers, SnapShot button may be inoperative", message);
  EXPECT_TRUE(full);
}

TEST_F(DriverDialogs, TheCameraInformationIsTheDriversOwn) {
  ASSERT_NO_FATAL_FAILURE(openBoth({}));
  std::string caption, version, library, driverType, connection;
  runDialog(external_, {[&](HWND d) { press(d, IDC_SRC_ABOUT); },
                        [&](HWND about) {
                          caption = text(about);
                          version = field(about, 876);
                          library = field(about, 888);
                          driverType = field(about, 889);
                          connection = field(about, 661);
                          press(about, IDOK);
                          press(GetWindow(about, GW_OWNER), IDCANCEL);
                        }});
  EXPECT_EQ("Digital Camera Information", caption);
  EXPECT_EQ("Digital Camera AVI Version 6.9.1.80", version);
  EXPECT_EQ(0u, library.find("Library Version "));
  EXPECT_EQ(0u, driverType.find("Driver Type "));
  EXPECT_NE(std::string::npos, connection.find(" on USB Port"));
}

// The timed-profile dialog lists the profiles that exist and stores the profile's own number.
TEST_F(DriverDialogs, TheTimedProfileDialogShowsTimesAndStoresTheChosenProfilesNumbers) {
  for (LONG index : {0, 2, 4}) {
    profiles::ProfileSettings settings(profiles::kCaptureDriverLayout);
    ASSERT_TRUE(profiles::writeCurrentProfile("AVI", index));
    ASSERT_TRUE(profiles::saveProfile(settings));
    ASSERT_TRUE(profiles::writeProfileName("AVI", index, index == 0 ? "Day" : index == 2 ? "Night" : "Dusk"));
  }
  ExtRegSaveVal("AVI", nullptr, "Timed Profile 1", 2);
  ExtRegSaveVal("AVI", nullptr, "Timed Profile 2", 4);
  ExtRegSaveVal("AVI", nullptr, "Timed Profile 1 Start Time", 480);
  ExtRegSaveVal("AVI", nullptr, "Timed Profile 2 Start Time", 1080);
  ExtRegSaveVal("AVI", nullptr, "Timed Profile Enable", 0);
  ASSERT_TRUE(profiles::writeCurrentProfile("AVI", 0));
  external_ = openWithCamera(kVideoExternalIn);
  ASSERT_NE(nullptr, external_);

  std::string caption, entries, start, end;
  int chosen1 = -1, chosen2 = -1;
  std::vector<std::string> times;
  runDialog(external_, {[&](HWND d) { press(d, IDC_SRC_MORE); },
                        [&](HWND d) { press(d, IDC_SRC_TIMED_PROFILES); },
                        [&](HWND t) {
                          caption = text(t);
                          for (int i = 0; i < 3; ++i) entries += listEntry(t, IDC_TP_PROFILE1, i) + ";";
                          chosen1 = selected(t, IDC_TP_PROFILE1);
                          chosen2 = selected(t, IDC_TP_PROFILE2);
                          start = field(t, IDC_TP_START_FIELD);
                          end = field(t, IDC_TP_END_FIELD);
                          for (int minutes : {0, 750, 1439, 780}) {
                            scrollTo(t, IDC_TP_START, minutes);
                            times.push_back(field(t, IDC_TP_START_FIELD));
                          }
                          toggle(t, IDC_TP_ENABLE);
                          choose(t, IDC_TP_PROFILE1, 0);  // 1 - Day
                          choose(t, IDC_TP_PROFILE2, 1);  // 3 - Night
                          press(t, IDOK);
                          press(GetWindow(t, GW_OWNER), IDCANCEL);
                        }});
  EXPECT_EQ("Timed Profile Settings", caption);
  EXPECT_EQ("1 - Day;3 - Night;5 - Dusk;", entries);
  EXPECT_EQ(1, chosen1);
  EXPECT_EQ(2, chosen2);
  EXPECT_EQ("8:00AM", start);
  EXPECT_EQ("6:00PM", end);
  EXPECT_EQ((std::vector<std::string>{"12:00AM", "12:30PM", "11:59PM", "1:00PM"}), times);
  EXPECT_EQ(1, ExtRegGetVal("AVI", nullptr, "Timed Profile Enable"));
  EXPECT_EQ(780, ExtRegGetVal("AVI", nullptr, "Timed Profile 1 Start Time"));
  EXPECT_EQ(1080, ExtRegGetVal("AVI", nullptr, "Timed Profile 2 Start Time"));
  EXPECT_EQ(0, ExtRegGetVal("AVI", nullptr, "Timed Profile 1"));
  EXPECT_EQ(2, ExtRegGetVal("AVI", nullptr, "Timed Profile 2"));
}

}  // namespace

namespace {

// Runs an action when the modal loop that is running gets to it: after what was posted before.
class Later {
 public:
  Later() : window_(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {
    current_ = this;
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Later::proc));
  }
  ~Later() {
    DestroyWindow(window_);
    current_ = nullptr;
  }
  void post(std::function<void()> action) {
    action_ = std::move(action);
    PostMessageA(window_, WM_APP, 0, 0);
  }

 private:
  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP && current_ && current_->action_) {
      std::function<void()> action = std::move(current_->action_);
      action();
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
  static Later* current_;
  HWND window_;
  std::function<void()> action_;
};
Later* Later::current_ = nullptr;

// The profile manager's Load puts the profile on the camera at once; the full form shows it at
// its next tick.
TEST_F(DriverDialogs, AProfileLoadedInTheManagerReachesTheCameraAndTheFullFormAtItsTick) {
  for (LONG index : {0, 1}) {
    profiles::ProfileSettings settings(profiles::kCaptureDriverLayout);
    settings[settings.find("Color Saturation")] = index == 0 ? 100 : 40;
    ASSERT_TRUE(profiles::writeCurrentProfile("AVI", index));
    ASSERT_TRUE(profiles::saveProfile(settings));
    ASSERT_TRUE(profiles::writeProfileName("AVI", index, index == 0 ? "Day" : "Night"));
  }
  ASSERT_TRUE(profiles::writeCurrentProfile("AVI", 0));
  external_ = openWithCamera(kVideoExternalIn);
  ASSERT_NE(nullptr, external_);
  Later later;
  HWND source = nullptr;
  LONG afterLoad = 0;
  int beforeTick = -1, afterTick = -1;
  std::string question;
  runDialog(external_, {[&](HWND d) { press(d, IDC_SRC_MORE); },
                        [&](HWND d) {
                          source = d;
                          press(d, IDC_SRC_CONFIGURATION);
                        },
                        [&](HWND manager) {
                          SendDlgItemMessageA(manager, 401, LB_SETCURSEL, 1, 0);
                          SendMessageA(manager, WM_COMMAND, MAKEWPARAM(401, LBN_SELCHANGE),
                                       reinterpret_cast<LPARAM>(GetDlgItem(manager, 401)));
                          press(manager, 403);  // Load
                        },
                        [&](HWND box) {
                          question = field(box, 0xFFFF);
                          press(box, IDYES);
                          press(GetWindow(box, GW_OWNER), IDOK);
                          later.post([&] {
                            afterLoad = QRGetChromaSat();
                            beforeTick = barPosition(source, IDC_SRC_COLOR);
                            SendMessageA(source, WM_TIMER, 1, 0);
                            afterTick = barPosition(source, IDC_SRC_COLOR);
                            press(source, IDCANCEL);
                          });
                        }});
  EXPECT_EQ("Load \"Night\" configuration?", question);
  EXPECT_EQ(40, afterLoad);
  EXPECT_EQ(100, beforeTick);
  EXPECT_EQ(40, afterTick);
  EXPECT_EQ(1, ExtRegGetVal("AVI", nullptr, "Current Profile"));
}

}  // namespace

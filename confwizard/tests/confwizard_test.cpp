// The NetMeeting wizard under Wine's null display driver: its dialog driven in this process, and
// the real program started and answered through its window.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "capture_device_key.h"
#include "controls.h"
#include "registry_sandbox.h"
#include "wizard_dialog.h"
#include "wizard_ids.h"

namespace {

using confwizard::kCaptureDevicesKey;
using confwizard::kDeviceKey;

const int kChoiceIds[] = {IDC_COLOURS_GREY, IDC_COLOURS_RGB555, IDC_COLOURS_RGB24, IDC_COLOURS_YUV9};

std::string deviceKeyNamed(const std::string& name) { return std::string(kCaptureDevicesKey) + name; }

void storeNumColors(const void* data, DWORD size, DWORD type = REG_DWORD) {
  qrtest::writeRawValue(kDeviceKey, "dwNumColors", type, data, size);
}

void storeNumColors(DWORD value) { storeNumColors(&value, sizeof value); }

// A device value as written: REG_DWORD of 4 bytes.
DWORD storedDword(const char* name) {
  DWORD type = 0;
  std::string data;
  EXPECT_TRUE(qrtest::readRawValue(kDeviceKey, name, type, data)) << name;
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type) << name;
  EXPECT_EQ(4u, data.size()) << name;
  DWORD value = 0;
  if (data.size() == 4) memcpy(&value, data.data(), 4);
  return value;
}

class Wizard : public testing::Test {
 protected:
  void SetUp() override { deleteConferencingKey(); }
  void TearDown() override {
    dialog_.reset();
    frame_.reset();
    deleteConferencingKey();
  }
  static void deleteConferencingKey() {
    DWORD status = SHDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Conferencing");
    ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
  }

  void open() {
    frame_.reset(new ui::FrameWindow("NetMeeting Wizard", true));
    frame_->setQuitOnDestroy(false);
    dialog_.reset(new confwizard::TWizardDlgClient(GetModuleHandleA(nullptr)));
    ASSERT_TRUE(confwizard::openWizard(*frame_, *dialog_));
  }
  // Clicks a control as the user does, then lets the posted close reach the frame.
  void click(int id) {
    SendMessageA(dialog_->handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog_->handle(), id)));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  // The ids of the ticked boxes.
  std::vector<int> ticked() const {
    std::vector<int> ids;
    for (int id : kChoiceIds) {
      if (ui::CheckBox(dialog_->handle(), id).checked()) ids.push_back(id);
    }
    return ids;
  }
  bool frameOpen() const { return frame_->handle() != nullptr; }

  std::unique_ptr<ui::FrameWindow> frame_;
  std::unique_ptr<confwizard::TWizardDlgClient> dialog_;
};

TEST_F(Wizard, WithoutADeviceKeyTicks24BitAndCloseWrites8) {
  open();
  EXPECT_EQ(std::vector<int>{IDC_COLOURS_RGB24}, ticked());
  EXPECT_EQ("24bit RGB (16M True Color)", ui::windowText(GetDlgItem(dialog_->handle(), IDC_COLOURS_RGB24)));
  click(IDC_CLOSE);
  EXPECT_FALSE(frameOpen());
  EXPECT_EQ(8u, storedDword("dwNumColors"));
  EXPECT_EQ(2u, storedDword("dwDialogs"));
  EXPECT_EQ(33555520u, storedDword("dwImageSize"));
  EXPECT_EQ(1u, storedDword("dwStreamingMode"));
  DWORD type;
  std::string bytes;
  ASSERT_TRUE(qrtest::readRawValue(kDeviceKey, "dwImageSize", type, bytes));
  EXPECT_EQ(std::string("\x40\x04\x00\x02", 4), bytes);
}

TEST_F(Wizard, StoredYuv9IsTickedAndOkWritesItAgain) {
  storeNumColors(16);
  open();
  EXPECT_EQ(std::vector<int>{IDC_COLOURS_YUV9}, ticked());
  click(IDOK);
  EXPECT_FALSE(frameOpen());
  EXPECT_EQ(16u, storedDword("dwNumColors"));
}

TEST_F(Wizard, NothingTickedForValuesWithoutAChoiceBit) {
  struct Case {
    DWORD stored;
    int button;
    DWORD written;
  };
  const Case cases[] = {{0, IDOK, 0}, {1, IDOK, 0}, {0, IDC_CLOSE, 0}, {1, IDC_CLOSE, 1}, {0x21, IDC_CLOSE, 0x21}};
  for (const Case& c : cases) {
    deleteConferencingKey();
    storeNumColors(c.stored);
    open();
    EXPECT_TRUE(ticked().empty()) << c.stored;
    EXPECT_EQ(0, dialog_->chosenColours());
    click(c.button);
    EXPECT_EQ(c.written, storedDword("dwNumColors")) << c.stored << ' ' << c.button;
  }
}

TEST_F(Wizard, InitialChoiceFollowsTheBitPrecedenceOfTheLowByte) {
  struct Case {
    DWORD stored;
    int ticked;
    LONG initial;
  };
  const Case cases[] = {
      {8 | 16, IDC_COLOURS_RGB24, 24}, {16 | 2 | 4, IDC_COLOURS_YUV9, 22}, {2 | 4, IDC_COLOURS_GREY, 6},
      {4, IDC_COLOURS_RGB555, 4},      {0x0110, IDC_COLOURS_YUV9, 16},  // only the low byte counts
      {0x88, IDC_COLOURS_RGB24, -120},                                  // sign-extended
  };
  for (const Case& c : cases) {
    deleteConferencingKey();
    storeNumColors(c.stored);
    open();
    EXPECT_EQ(c.initial, dialog_->initialColours()) << c.stored;
    EXPECT_EQ(std::vector<int>{c.ticked}, ticked()) << c.stored;
    click(IDC_CLOSE);
    EXPECT_EQ(static_cast<DWORD>(c.initial), storedDword("dwNumColors")) << c.stored;
  }
}

TEST_F(Wizard, ChoicesAreMutuallyExclusive) {
  struct Case {
    int id;
    DWORD value;
  };
  const Case cases[] = {{IDC_COLOURS_GREY, 2}, {IDC_COLOURS_RGB555, 4}, {IDC_COLOURS_RGB24, 8}, {IDC_COLOURS_YUV9, 16}};
  for (const Case& c : cases) {
    deleteConferencingKey();
    open();
    click(IDC_COLOURS_YUV9 == c.id ? IDC_COLOURS_GREY : IDC_COLOURS_YUV9);  // some other choice first
    click(c.id);
    EXPECT_EQ(std::vector<int>{c.id}, ticked());
    click(IDOK);
    EXPECT_EQ(c.value, storedDword("dwNumColors"));
  }
}

TEST_F(Wizard, StaleQuorelKeysAreDeletedAndOtherCamerasStay) {
  DWORD colours = 2;
  storeNumColors(colours);
  qrtest::writeRawValue(deviceKeyNamed("Quorel Old Capture Driver"), "dwNumColors", REG_DWORD, &colours, 4);
  qrtest::writeRawValue(deviceKeyNamed("Other Camera Driver"), "dwNumColors", REG_DWORD, &colours, 4);
  qrtest::writeRawValue(deviceKeyNamed("quorel lower case"), "dwNumColors", REG_DWORD, &colours, 4);
  open();
  EXPECT_FALSE(qrtest::keyExists(kDeviceKey));
  EXPECT_FALSE(qrtest::keyExists(deviceKeyNamed("Quorel Old Capture Driver")));
  EXPECT_TRUE(qrtest::keyExists(deviceKeyNamed("Other Camera Driver")));
  EXPECT_TRUE(qrtest::keyExists(deviceKeyNamed("quorel lower case")));
  EXPECT_EQ(std::vector<int>{IDC_COLOURS_GREY}, ticked());
  click(IDOK);
  EXPECT_EQ(2u, storedDword("dwNumColors"));
}

// A name longer than the 128-character buffer, or a stale key that cannot be deleted, does not
// stop or stall the clean-up: it moves on to the next key.
TEST_F(Wizard, CleanUpMovesOnPastKeysItCannotReadOrDelete) {
  DWORD colours = 4;
  const std::string longName = "A" + std::string(200, 'a');
  const std::string longStale = "Quorel" + std::string(200, 'q');
  const std::string undeletable = "Quorel Has Sub-keys";
  qrtest::writeRawValue(deviceKeyNamed(longName), "dwNumColors", REG_DWORD, &colours, 4);
  qrtest::writeRawValue(deviceKeyNamed(longStale), "dwNumColors", REG_DWORD, &colours, 4);
  qrtest::writeRawValue(deviceKeyNamed(undeletable + "\\Inner"), "dwNumColors", REG_DWORD, &colours, 4);
  qrtest::writeRawValue(deviceKeyNamed("Quorel Old Capture Driver"), "dwNumColors", REG_DWORD, &colours, 4);
  qrtest::writeRawValue(deviceKeyNamed("Zeta Camera"), "dwNumColors", REG_DWORD, &colours, 4);
  storeNumColors(colours);
  EXPECT_EQ(2, confwizard::removeStaleDeviceKeys());
  EXPECT_FALSE(qrtest::keyExists(kDeviceKey));
  EXPECT_FALSE(qrtest::keyExists(deviceKeyNamed("Quorel Old Capture Driver")));
  EXPECT_TRUE(qrtest::keyExists(deviceKeyNamed(longName)));
  EXPECT_TRUE(qrtest::keyExists(deviceKeyNamed(longStale)));  // its name cannot be read
  EXPECT_TRUE(qrtest::keyExists(deviceKeyNamed(undeletable)));
  EXPECT_TRUE(qrtest::keyExists(deviceKeyNamed("Zeta Camera")));
}

// Escape, or the frame closed from outside (the task list), act as Close: the device key removed
// at start is written back with the initial value rather than left deleted.
TEST_F(Wizard, LeavingOtherwiseActsAsClose) {
  struct Case {
    const char* how;
  };
  const Case cases[] = {{"escape"}, {"frame"}};
  for (const Case& c : cases) {
    deleteConferencingKey();
    storeNumColors(16);
    open();
    click(IDC_COLOURS_GREY);
    if (std::string(c.how) == "escape") {
      click(IDCANCEL);
    } else {
      SendMessageA(frame_->handle(), WM_CLOSE, 0, 0);
    }
    EXPECT_FALSE(frameOpen()) << c.how;
    EXPECT_EQ(16u, storedDword("dwNumColors")) << c.how;
  }
}

TEST_F(Wizard, MissingParentKeySkipsTheCleanUp) {
  EXPECT_EQ(0, confwizard::removeStaleDeviceKeys());
  EXPECT_EQ(8, confwizard::readInitialColours());
}

// The program itself: its frame and dialog, and OK through the window as a user would.
TEST_F(Wizard, ProgramShowsTheWizardAndOkWritesTheKey) {
  storeNumColors(4);
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  PathRemoveFileSpecA(path);
  PathAppendA(path, "confwizard.exe");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ASSERT_TRUE(CreateProcessA(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) << path;

  HWND frame = nullptr;
  for (int attempt = 0; attempt < 200 && !frame; ++attempt) {  // up to 20 s for Wine to start it
    frame = FindWindowA("QRFrameWindow", "NetMeeting Wizard");
    if (!frame) Sleep(100);
  }
  ASSERT_NE(nullptr, frame);
  // The frame is shown once it has been fitted to its dialog.
  HWND dialog = nullptr;
  for (int attempt = 0; attempt < 50 && !(dialog && IsWindowVisible(frame)); ++attempt) {
    dialog = FindWindowExA(frame, nullptr, MAKEINTATOM(32770), nullptr);
    if (!dialog || !IsWindowVisible(frame)) Sleep(100);
  }
  ASSERT_NE(nullptr, dialog);
  ASSERT_TRUE(IsWindowVisible(frame));
  EXPECT_EQ("Omnara NetMeeting Wizard", ui::windowText(dialog));
  LONG style = GetWindowLongA(frame, GWL_STYLE);
  EXPECT_EQ(0, style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX));
  RECT frameRect, dialogRect;
  GetWindowRect(frame, &frameRect);
  GetWindowRect(dialog, &dialogRect);
  EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - 300) / 2, frameRect.left);
  EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - 240) / 2, frameRect.top);
  EXPECT_EQ(dialogRect.right - dialogRect.left, frameRect.right - frameRect.left);
  EXPECT_EQ(dialogRect.bottom - dialogRect.top, frameRect.bottom - frameRect.top);
  EXPECT_EQ(BST_CHECKED, SendDlgItemMessageA(dialog, IDC_COLOURS_RGB555, BM_GETCHECK, 0, 0));

  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 20000));
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  EXPECT_EQ(0u, exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(4u, storedDword("dwNumColors"));
  EXPECT_EQ(2u, storedDword("dwDialogs"));
}

}  // namespace

// The window framework under Wine's null display driver: dialogs modal and modeless, the frame
// around a child dialog, the message loop's idle step, control helpers and message boxes.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "application.h"
#include "controls.h"
#include "dialog.h"
#include "messages.h"
#include "modal_answerer.h"
#include "ui_test_ids.h"
#include "window.h"

namespace {

HINSTANCE self() { return GetModuleHandleA(nullptr); }

class TestDialog : public ui::Dialog {
 public:
  explicit TestDialog(int templateId = IDD_UI_TEST) : Dialog(self(), templateId) {}
  int inits = 0;
  bool initAnswer = true;
  std::vector<int> commands;
  std::string editAtOk;

 protected:
  bool onInit() override {
    ++inits;
    return initAnswer;
  }
  bool onCommand(int id, int code, HWND control) override {
    commands.push_back(id);
    if (id == IDOK) editAtOk = ui::EditField(hwnd_, IDC_UI_EDIT).text();
    return Dialog::onCommand(id, code, control);
  }
};

TEST(Dialog, RunsModalUntilAButtonEndsIt) {
  TestDialog dialog;
  qrtest::ModalAnswerer answerer;
  answerer.planText(IDC_UI_EDIT, "typed", IDOK);
  EXPECT_EQ(IDOK, dialog.runModal(nullptr));
  EXPECT_EQ(1, dialog.inits);
  EXPECT_EQ("typed", dialog.editAtOk);
  ASSERT_EQ(1u, answerer.seen().size());
  EXPECT_EQ("Framework Test", answerer.seen()[0].caption);
  EXPECT_EQ(nullptr, dialog.handle());
}

TEST(Dialog, ModelessDialogLivesUntilEnded) {
  TestDialog dialog;
  HWND hwnd = dialog.createModeless(nullptr);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_FALSE(dialog.isModal());
  SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(IDCANCEL, dialog.result());
  EXPECT_EQ(1, std::count(dialog.commands.begin(), dialog.commands.end(), IDCANCEL));
}

TEST(Dialog, DestroyingTheObjectDestroysAnOpenModelessWindow) {
  HWND hwnd;
  {
    TestDialog dialog;
    hwnd = dialog.createModeless(nullptr);
    ASSERT_TRUE(IsWindow(hwnd));
  }
  EXPECT_FALSE(IsWindow(hwnd));
}

// A dialog that answers chosen messages with chosen values.
class AnsweringDialog : public TestDialog {
 public:
  std::map<UINT, INT_PTR> answers;

 protected:
  INT_PTR onMessage(UINT message, WPARAM, LPARAM, bool& handled) override {
    auto found = answers.find(message);
    handled = found != answers.end();
    return handled ? found->second : 0;
  }
};

// The colour messages, WM_COMPAREITEM, WM_VKEYTOITEM, WM_CHARTOITEM and WM_QUERYDRAGICON take
// the dialog procedure's return value as their answer; every other message takes DWLP_MSGRESULT.
TEST(Dialog, EveryMessageGetsTheAnswerItsHandlerGave) {
  struct Case {
    UINT message;
    INT_PTR answer;
    const char* name;
  };
  auto brush = [](int stock) { return reinterpret_cast<INT_PTR>(GetStockObject(stock)); };
  const Case cases[] = {
      {WM_CTLCOLORSTATIC, brush(GRAY_BRUSH), "WM_CTLCOLORSTATIC"},
      {WM_CTLCOLOREDIT, brush(WHITE_BRUSH), "WM_CTLCOLOREDIT"},
      {WM_CTLCOLORLISTBOX, brush(LTGRAY_BRUSH), "WM_CTLCOLORLISTBOX"},
      {WM_CTLCOLORBTN, brush(DKGRAY_BRUSH), "WM_CTLCOLORBTN"},
      {WM_CTLCOLORDLG, brush(BLACK_BRUSH), "WM_CTLCOLORDLG"},
      {WM_CTLCOLORSCROLLBAR, brush(NULL_BRUSH), "WM_CTLCOLORSCROLLBAR"},
      {WM_CTLCOLORMSGBOX, brush(DC_BRUSH), "WM_CTLCOLORMSGBOX"},
      {WM_COMPAREITEM, -1, "WM_COMPAREITEM"},
      {WM_VKEYTOITEM, -2, "WM_VKEYTOITEM"},
      {WM_CHARTOITEM, 3, "WM_CHARTOITEM"},
      {WM_QUERYDRAGICON, reinterpret_cast<INT_PTR>(LoadIconA(nullptr, IDI_APPLICATION)), "WM_QUERYDRAGICON"},
      {WM_USER + 7, 0x1234, "a private message"},
      {WM_APP + 1, -5, "an application message"},
  };
  AnsweringDialog dialog;
  for (const Case& c : cases) dialog.answers[c.message] = c.answer;
  ASSERT_NE(nullptr, dialog.createModeless(nullptr));
  for (const Case& c : cases) EXPECT_EQ(c.answer, SendMessageA(dialog.handle(), c.message, 0, 0)) << c.name;
}

// Another WM_INITDIALOG (some programs send one to set a dialog up again) reaches onInit and
// answers its result directly, but its lParam is the sender's, not the dialog object.
TEST(Dialog, AWmInitDialogSentLaterReachesTheObjectWithoutRebindingIt) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.createModeless(nullptr));
  dialog.initAnswer = false;
  EXPECT_EQ(FALSE, SendMessageA(dialog.handle(), WM_INITDIALOG, 0, 0));
  dialog.initAnswer = true;
  EXPECT_EQ(TRUE, SendMessageA(dialog.handle(), WM_INITDIALOG, 0, 12345));
  EXPECT_EQ(3, dialog.inits);
  SendMessageA(dialog.handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(1, std::count(dialog.commands.begin(), dialog.commands.end(), IDCANCEL));
  EXPECT_EQ(nullptr, dialog.handle());
}

class Controls : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, dialog.createModeless(nullptr)); }
  TestDialog dialog;
};

TEST_F(Controls, ListAndComboKeepEntriesWithTheirData) {
  ui::ListBox list(dialog.handle(), IDC_UI_LIST);
  EXPECT_EQ(LB_ERR, list.selection());
  list.add("1 - First", 11);
  list.add("3 - Third", 33);
  EXPECT_EQ(2, list.count());
  list.select(1);
  EXPECT_EQ(1, list.selection());
  EXPECT_EQ(33, list.data(1));
  EXPECT_EQ("3 - Third", list.entry(1));
  EXPECT_EQ("", list.entry(7));
  list.clear();
  EXPECT_EQ(0, list.count());

  ui::ComboBox combo(dialog.handle(), IDC_UI_COMBO);
  combo.add("Low", 0);
  combo.add("High", 255);
  combo.select(1);
  EXPECT_EQ(255, combo.data(combo.selection()));
  EXPECT_EQ("High", combo.entry(1));
}

TEST_F(Controls, CheckBoxAndEditField) {
  ui::CheckBox check(dialog.handle(), IDC_UI_CHECK);
  EXPECT_FALSE(check.checked());
  check.setChecked(true);
  EXPECT_TRUE(check.checked());
  ui::EditField edit(dialog.handle(), IDC_UI_EDIT);
  edit.setText("Garden");
  EXPECT_EQ("Garden", edit.text());
  edit.setLimit(4);
  EXPECT_EQ(4, SendMessageA(edit.handle(), EM_GETLIMITTEXT, 0, 0));
}

TEST_F(Controls, ScrollRequestsStayInsideRangeAndPage) {
  ui::ScrollBar bar(dialog.handle(), IDC_UI_SCROLL);
  bar.setRange(0, 109, 10);  // positions 0..100 with a page of 10
  bar.setPosition(50);
  struct Case {
    WPARAM request;
    int expected;
  };
  const Case cases[] = {
      {SB_LINEDOWN, 51},
      {SB_LINEUP, 49},
      {SB_PAGEDOWN, 60},
      {SB_PAGEUP, 40},
      {MAKEWPARAM(SB_THUMBTRACK, 77), 77},
      {SB_TOP, 0},
      {SB_BOTTOM, 100},
      {MAKEWPARAM(SB_THUMBPOSITION, 500), 100},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, bar.requestedPosition(c.request)) << LOWORD(c.request);
  bar.setPosition(100);
  EXPECT_EQ(100, bar.requestedPosition(SB_LINEDOWN));
  bar.setPosition(0);
  EXPECT_EQ(0, bar.requestedPosition(SB_PAGEUP));
}

// A dialog that records what each request of its scroll bar asks for, and the bar's own track
// position at that moment.
class ScrollingDialog : public TestDialog {
 public:
  struct Request {
    int code;
    WORD low16;
    int requested;
    int tracked;
  };
  std::vector<Request> thumbRequests;

 protected:
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
    if (message != WM_HSCROLL) return TestDialog::onMessage(message, wParam, lParam, handled);
    ui::ScrollBar bar(hwnd_, IDC_UI_SCROLL);
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_TRACKPOS;
    GetScrollInfo(bar.handle(), SB_CTL, &info);
    if (LOWORD(wParam) == SB_THUMBTRACK || LOWORD(wParam) == SB_THUMBPOSITION)
      thumbRequests.push_back({LOWORD(wParam), HIWORD(wParam), bar.requestedPosition(wParam), info.nTrackPos});
    handled = true;
    return 0;
  }
};

// The thumb of a bar wider than 16 bits is dragged to the middle and on to the right end, where it
// is let go; the bar's own drag loop runs inside the button-down message.
TEST(ScrollBar, ADraggedThumbAsksForItsFull32BitPosition) {
  ScrollingDialog dialog;
  ASSERT_NE(nullptr, dialog.createModeless(nullptr));
  ui::ScrollBar bar(dialog.handle(), IDC_UI_SCROLL);
  const int maximum = 200000;
  bar.setRange(0, maximum, 0);
  RECT area;
  GetClientRect(bar.handle(), &area);
  const int y = area.bottom / 2;
  const int thumbX = GetSystemMetrics(SM_CXHSCROLL) + 2;  // at position 0 the thumb follows the left arrow
  PostMessageA(bar.handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(area.right / 2, y));
  PostMessageA(bar.handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(area.right - 1, y));
  PostMessageA(bar.handle(), WM_LBUTTONUP, 0, MAKELPARAM(area.right - 1, y));
  SendMessageA(bar.handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(thumbX, y));

  const auto& requests = dialog.thumbRequests;
  ASSERT_GE(requests.size(), 3u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.tracked, request.requested) << request.code;
    EXPECT_EQ(request.low16, LOWORD(request.requested)) << request.code;
  }
  EXPECT_GT(requests[requests.size() - 3].requested, 0);  // the middle
  EXPECT_LT(requests[requests.size() - 3].requested, maximum);
  EXPECT_EQ(SB_THUMBTRACK, requests[requests.size() - 2].code);
  EXPECT_EQ(maximum, requests[requests.size() - 2].requested);
  EXPECT_EQ(SB_THUMBPOSITION, requests.back().code);
  EXPECT_EQ(maximum, requests.back().requested);
}

// Without a drag the track position is the current one: a thumb request a program sends over a
// wide range is read as the position with its low 16 bits nearest the current one.
TEST(ScrollBar, AThumbRequestWithoutADragIsReadNearTheCurrentPosition) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.createModeless(nullptr));
  ui::ScrollBar bar(dialog.handle(), IDC_UI_SCROLL);
  bar.setRange(0, 200000, 0);
  struct Case {
    int current;
    int wanted;
  };
  const Case cases[] = {{100000, 100050}, {100000, 99950}, {100000, 131000}, {65536, 65535}, {65536, 70000}, {10, 3}};
  for (const Case& c : cases) {
    bar.setPosition(c.current);
    const WPARAM request = MAKEWPARAM(SB_THUMBTRACK, LOWORD(c.wanted));
    EXPECT_EQ(c.wanted, bar.requestedPosition(request)) << c.current;
  }
}

TEST(Messages, CarryTheFrontEndsCaptionAndBeepOnlyWhenSoundsAreOn) {
  bool sounds = false;
  std::vector<UINT> beeps;
  ui::Messages messages(
      "QR3Viewer", [&] { return sounds; }, [&](UINT type) { beeps.push_back(type); });
  qrtest::ModalAnswerer answerer;
  answerer.plan(IDOK);
  answerer.plan(IDNO);
  answerer.plan(IDOK);
  EXPECT_EQ(IDOK,
            messages.show(nullptr, "Out of Timers, SnapShot button may be inoperative", MB_OK | MB_ICONEXCLAMATION));
  EXPECT_TRUE(beeps.empty());
  sounds = true;
  EXPECT_EQ(IDNO, messages.show(nullptr, "Save?", MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(std::vector<UINT>{MB_ICONQUESTION}, beeps);
  EXPECT_EQ(IDOK, messages.show(nullptr, "Other", MB_OK, "Confirm Action"));
  ASSERT_EQ(3u, answerer.seen().size());
  EXPECT_EQ("QR3Viewer", answerer.seen()[0].caption);
  EXPECT_EQ("Out of Timers, SnapShot button may be inoperative", answerer.seen()[0].text);
  EXPECT_EQ((std::vector<int>{IDYES, IDNO}), answerer.seen()[1].buttons);
  EXPECT_EQ("Confirm Action", answerer.seen()[2].caption);
  EXPECT_EQ(0u, answerer.unexpected());

  ui::Messages silent("Quiet");  // no sounds switch: never beeps, never crashes
  answerer.plan(IDOK);
  EXPECT_EQ(IDOK, silent.show(nullptr, "x", MB_OK));
}

// A planned answer the box cannot give is a mistake in the test, not an answer for the code.
TEST(Messages, APlannedButtonTheBoxLacksFailsTheTestAndTheDefaultAnswers) {
  ui::Messages messages("QR3Viewer");
  qrtest::ModalAnswerer answerer;
  answerer.plan(IDYES);
  int answer = 0;
  EXPECT_NONFATAL_FAILURE(answer = messages.show(nullptr, "Only OK", MB_OK), "is not on \"QR3Viewer\" (Only OK)");
  EXPECT_EQ(IDOK, answer);
  ASSERT_EQ(1u, answerer.seen().size());
  EXPECT_EQ(IDOK, answerer.seen()[0].pressed);
}

// Two boxes raised on a thread of another kind than the test's, and what they answered.
struct BoxesElsewhere {
  explicit BoxesElsewhere(const ui::Messages& messages) : messages(messages) {}
  ~BoxesElsewhere() { CloseHandle(done); }
  void raise() {
    thread = GetCurrentThreadId();
    answers[0] = messages.show(nullptr, "Frame dropped: go on?", MB_YESNO | MB_ICONQUESTION);
    answers[1] = messages.show(nullptr, "Stream stopped", MB_OK);
    SetEvent(done);
  }
  static DWORD WINAPI onThread(void* boxes) {
    static_cast<BoxesElsewhere*>(boxes)->raise();
    return 0;
  }
  static void CALLBACK onTimer(UINT, UINT, DWORD_PTR boxes, DWORD_PTR, DWORD_PTR) {
    reinterpret_cast<BoxesElsewhere*>(boxes)->raise();
  }
  static BOOL CALLBACK pressOk(HWND box, LPARAM) {
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return TRUE;
  }
  // Waits for the boxes to be answered. A box left open (the failure this is about) is closed
  // here, so that the test fails instead of hanging.
  bool answered() {
    if (WaitForSingleObject(done, 10000) == WAIT_OBJECT_0) return true;
    for (int attempt = 0; attempt < 10 && WaitForSingleObject(done, 500) != WAIT_OBJECT_0; ++attempt)
      EnumThreadWindows(thread, pressOk, 0);
    return false;
  }

  const ui::Messages& messages;
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD thread = 0;
  int answers[2] = {};
};

// A capture driver raises its boxes on its client's threads and on its multimedia timer's
// thread; the test's thread only waits (without pumping messages) while they are answered.
TEST(ModalAnswerer, AnswersBoxesRaisedOnOtherThreads) {
  ui::Messages messages("Sentrio V2 DigiCam AVI Driver");
  qrtest::ModalAnswerer answerer;

  BoxesElsewhere onThread(messages);
  answerer.plan(IDNO);
  answerer.plan(IDOK);
  HANDLE thread = CreateThread(nullptr, 0, BoxesElsewhere::onThread, &onThread, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_TRUE(onThread.answered());
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(IDNO, onThread.answers[0]);
  EXPECT_EQ(IDOK, onThread.answers[1]);

  BoxesElsewhere onTimer(messages);
  answerer.plan(IDYES);
  answerer.plan(IDOK);
  MMRESULT timer = timeSetEvent(1, 0, BoxesElsewhere::onTimer, reinterpret_cast<DWORD_PTR>(&onTimer),
                                TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
  ASSERT_NE(0u, timer);
  EXPECT_TRUE(onTimer.answered());
  EXPECT_EQ(IDYES, onTimer.answers[0]);
  EXPECT_EQ(IDOK, onTimer.answers[1]);

  const std::vector<qrtest::SeenModal>& seen = answerer.seen();
  ASSERT_EQ(4u, seen.size());
  const DWORD threads[] = {onThread.thread, onThread.thread, onTimer.thread, onTimer.thread};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(threads[i], seen[i].thread) << i;
    EXPECT_EQ("Sentrio V2 DigiCam AVI Driver", seen[i].caption) << i;
  }
  EXPECT_NE(GetCurrentThreadId(), onThread.thread);
  EXPECT_NE(GetCurrentThreadId(), onTimer.thread);
  EXPECT_EQ("Frame dropped: go on?", seen[2].text);
  EXPECT_EQ((std::vector<int>{IDYES, IDNO}), seen[2].buttons);
  EXPECT_EQ("Stream stopped", seen[3].text);
  EXPECT_EQ(0u, answerer.unexpected());
}

TEST(Messages, FormatsLikePrintf) {
  EXPECT_EQ("Load \"Garden\" configuration?", ui::format("Load \"%s\" configuration?", "Garden"));
  EXPECT_EQ("3 - Un-Named", ui::format("%1d - %s", 3, "Un-Named"));
  EXPECT_EQ(std::string(300, 'x'), ui::format("%s", std::string(300, 'x').c_str()));
}

// A framework window that counts its paints and answers a private message of its own.
class Preview : public ui::Window {
 public:
  static constexpr UINT kPing = WM_USER + 40;
  int paints = 0;

 protected:
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == kPing) return 1000 + wParam;
    if (message == WM_PAINT) {
      ++paints;
      PAINTSTRUCT paint;
      BeginPaint(hwnd_, &paint);
      EndPaint(hwnd_, &paint);
      return 0;
    }
    return Window::handleMessage(message, wParam, lParam);
  }
};

// A dialog whose template holds two controls of the framework class "QRTestPreview", bound to
// their objects when the dialog starts (unless told not to).
class PreviewDialog : public TestDialog {
 public:
  explicit PreviewDialog(bool attachAtInit = true) : TestDialog(IDD_UI_PREVIEW), attachAtInit_(attachAtInit) {}
  HWND control(int id) const { return GetDlgItem(hwnd_, id); }
  Preview preview;
  Preview withData;
  bool attached = false;
  bool attachedWithData = false;

 protected:
  bool onInit() override {
    if (attachAtInit_) {
      attached = preview.attach(control(IDC_UI_PREVIEW));
      attachedWithData = withData.attach(control(IDC_UI_PREVIEW_DATA));
    }
    return TestDialog::onInit();
  }

 private:
  bool attachAtInit_;
};

class TemplateControl : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ui::Window::registerClass("QRTestPreview")); }
  static void repaint(HWND hwnd) { RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }
};

TEST_F(TemplateControl, IsMadeByTheDialogAndServedByTheObjectAttachedToIt) {
  PreviewDialog dialog;
  ASSERT_NE(nullptr, dialog.createModeless(nullptr));
  for (Preview* preview : {&dialog.preview, &dialog.withData}) {
    ASSERT_NE(nullptr, preview->handle());
    EXPECT_EQ(1005, SendMessageA(preview->handle(), Preview::kPing, 5, 0));
    int before = preview->paints;
    repaint(preview->handle());
    EXPECT_GT(preview->paints, before);
  }
  EXPECT_TRUE(dialog.attached);
  EXPECT_TRUE(dialog.attachedWithData);
  EXPECT_EQ(dialog.control(IDC_UI_PREVIEW), dialog.preview.handle());
  SendMessageA(dialog.handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(nullptr, dialog.preview.handle());  // gone with the dialog
}

TEST_F(TemplateControl, AttachRefusesWindowsItCannotServe) {
  PreviewDialog dialog;
  ASSERT_NE(nullptr, dialog.createModeless(nullptr));
  Preview other;
  EXPECT_FALSE(other.attach(dialog.control(IDOK)));                          // a button: not a framework class
  EXPECT_FALSE(other.attach(dialog.control(IDC_UI_PREVIEW)));                // has its object already
  EXPECT_FALSE(dialog.preview.attach(dialog.control(IDC_UI_PREVIEW_DATA)));  // the object has its window
  EXPECT_FALSE(other.attach(nullptr));
  EXPECT_EQ(nullptr, other.handle());
  EXPECT_EQ(1007, SendMessageA(dialog.control(IDC_UI_PREVIEW_DATA), Preview::kPing, 7, 0));
  EXPECT_FALSE(ui::Window::registerClass("Button"));  // a class that is not the framework's
}

// The object may go first (a dialog's members go before the dialog's window): the control stays
// the dialog's, answers as a plain window, and can take another object. Leaving the dialog open
// at the end of a test has its members go first too.
TEST_F(TemplateControl, AnObjectDestroyedFirstLeavesTheControlToTheDialog) {
  PreviewDialog dialog(false);
  ASSERT_NE(nullptr, dialog.createModeless(nullptr));
  HWND control = dialog.control(IDC_UI_PREVIEW);
  EXPECT_EQ(0, SendMessageA(control, Preview::kPing, 1, 0));  // no object yet
  {
    Preview first;
    ASSERT_TRUE(first.attach(control));
    EXPECT_EQ(1002, SendMessageA(control, Preview::kPing, 2, 0));
  }
  EXPECT_TRUE(IsWindow(control));
  EXPECT_EQ(0, SendMessageA(control, Preview::kPing, 3, 0));
  Preview second;
  ASSERT_TRUE(second.attach(control));
  EXPECT_EQ(1004, SendMessageA(control, Preview::kPing, 4, 0));
}

// A DLL that links the framework: its classes are registered for it and leave with it.
class ClassModule : public testing::Test {
 protected:
  using RegisterClassFn = BOOL(WINAPI*)(const char*);
  using UnregisterClassesFn = void(WINAPI*)();

  void SetUp() override {
    module_ = LoadLibraryA("ui_test_classes.dll");
    ASSERT_NE(nullptr, module_);
    registerClass_ = exported<RegisterClassFn>("RegisterFrameworkClass");
    unregisterClasses_ = exported<UnregisterClassesFn>("UnregisterFrameworkClasses");
    ASSERT_NE(nullptr, registerClass_);
    ASSERT_NE(nullptr, unregisterClasses_);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  template <typename F>
  F exported(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  static bool classOf(HINSTANCE module, const char* name) {
    WNDCLASSA found;
    return GetClassInfoA(module, name, &found) && found.hInstance == module;
  }

  HMODULE module_ = nullptr;
  RegisterClassFn registerClass_ = nullptr;
  UnregisterClassesFn unregisterClasses_ = nullptr;
};

TEST_F(ClassModule, ADllsClassesAreItsOwnAndLeaveWhenItUnloads) {
  ASSERT_TRUE(registerClass_("QRTestDllClass"));
  EXPECT_TRUE(classOf(module_, "QRTestDllClass"));
  EXPECT_FALSE(classOf(self(), "QRTestDllClass"));
  HMODULE unloaded = module_;
  ASSERT_TRUE(FreeLibrary(module_));
  module_ = nullptr;
  EXPECT_FALSE(classOf(unloaded, "QRTestDllClass"));
}

TEST_F(ClassModule, AnExplicitCallUnregistersTheClassesAndTheyComeBackWhenNextUsed) {
  ASSERT_TRUE(registerClass_("QRTestDllClass"));
  ASSERT_TRUE(registerClass_("QRTestDllOther"));
  unregisterClasses_();
  EXPECT_FALSE(classOf(module_, "QRTestDllClass"));
  EXPECT_FALSE(classOf(module_, "QRTestDllOther"));
  EXPECT_TRUE(registerClass_("QRTestDllClass"));
  EXPECT_TRUE(classOf(module_, "QRTestDllClass"));
}

// The functions a loaded module imports by name, read from its import directory.
std::vector<std::string> importedFunctions(HMODULE module) {
  auto* base = reinterpret_cast<const BYTE*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> names;
  if (!directory.VirtualAddress) return names;
  for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); dll->Name;
       ++dll) {
    auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
    for (; dll->OriginalFirstThunk && thunk->u1.AddressOfData; ++thunk) {
      if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) continue;
      names.push_back(reinterpret_cast<const char*>(
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData)->Name));
    }
  }
  return names;
}

// Windows 95 and NT 4.0 load the framework's modules: it finds its module with what they have.
TEST_F(ClassModule, FindsItsModuleWithoutFunctionsNewerThanWindows95) {
  const std::vector<std::string> imports = importedFunctions(module_);
  auto imported = [&](const char* name) { return std::find(imports.begin(), imports.end(), name) != imports.end(); };
  EXPECT_TRUE(imported("RegisterClassA"));  // the import directory was read
  EXPECT_FALSE(imported("GetModuleHandleExA"));
  EXPECT_FALSE(imported("GetModuleHandleExW"));
}

// A client that wants three idle steps and presses its own OK at the third.
class ChildClient : public TestDialog {
 public:
  ChildClient() : TestDialog(IDD_UI_CHILD) {}
  int idleSteps = 0;
  bool closeAllowed = true;
  bool idleAction() override {
    if (++idleSteps == 3) PostMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return idleSteps < 3;
  }
  bool canClose() override { return closeAllowed; }
};

TEST(FrameWindow, FitsItsChildDialogAndEndsTheLoopWhenTheDialogEnds) {
  ui::Application app(self(), "Test");
  ui::FrameWindow frame("Frame Title", true);
  ASSERT_NE(nullptr, frame.create(WS_POPUP, 0, 10, 20, 50, 50));
  ChildClient client;
  ASSERT_NE(nullptr, client.createModeless(frame.handle()));
  frame.setClient(client);
  RECT frameRect, clientRect;
  GetWindowRect(frame.handle(), &frameRect);
  GetWindowRect(client.handle(), &clientRect);
  EXPECT_EQ(clientRect.right - clientRect.left, frameRect.right - frameRect.left);
  EXPECT_EQ(clientRect.bottom - clientRect.top, frameRect.bottom - frameRect.top);
  EXPECT_EQ(frameRect.left, clientRect.left);
  EXPECT_EQ(10, frameRect.left);
  EXPECT_EQ("Frame Title", ui::windowText(frame.handle()));
  ShowWindow(frame.handle(), SW_SHOW);

  client.closeAllowed = false;  // the first OK is refused by the client
  PostMessageA(client.handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  EXPECT_TRUE(IsWindow(frame.handle()));

  client.closeAllowed = true;
  EXPECT_EQ(0, app.run(&client));
  EXPECT_FALSE(IsWindow(frame.handle()));
  EXPECT_EQ(IDOK, client.result());
  EXPECT_EQ(3, client.idleSteps);
}

}  // namespace

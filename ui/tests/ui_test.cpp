// The window framework under Wine's null display driver: dialogs modal and modeless, the frame
// around a child dialog, the message loop's idle step, control helpers and message boxes.
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

TEST(Messages, FormatsLikePrintf) {
  EXPECT_EQ("Load \"Garden\" configuration?", ui::format("Load \"%s\" configuration?", "Garden"));
  EXPECT_EQ("3 - Un-Named", ui::format("%1d - %s", 3, "Un-Named"));
  EXPECT_EQ(std::string(300, 'x'), ui::format("%s", std::string(300, 'x').c_str()));
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

#include "modal_answerer.h"

#include <gtest/gtest.h>

namespace qrtest {

namespace {

// One answerer per thread at a time; the hook procedure has no other way to find it.
thread_local ModalAnswerer* t_answerer = nullptr;

// The control id of a message box's text and icon (the same on Windows and Wine).
constexpr int kMessageTextId = 0xFFFF;
constexpr int kMessageIconId = 0x0440;

std::string textOf(HWND hwnd) {
  char buffer[1024] = "";
  if (hwnd) GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

}  // namespace

ModalAnswerer::ModalAnswerer() {
  EXPECT_EQ(nullptr, t_answerer) << "one ModalAnswerer per thread";
  t_answerer = this;
  hook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, hookProc, nullptr, GetCurrentThreadId());
  EXPECT_NE(nullptr, hook_);
}

ModalAnswerer::~ModalAnswerer() {
  if (hook_) UnhookWindowsHookEx(hook_);
  t_answerer = nullptr;
}

std::size_t ModalAnswerer::unexpected() const {
  std::size_t count = 0;
  for (const SeenModal& modal : seen_) count += modal.planned ? 0 : 1;
  return count;
}

LRESULT CALLBACK ModalAnswerer::hookProc(int code, WPARAM wParam, LPARAM lParam) {
  auto* message = reinterpret_cast<CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && message->message == WM_INITDIALOG && t_answerer) t_answerer->answer(message->hwnd);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void ModalAnswerer::answer(HWND dialog) {
  SeenModal modal;
  modal.caption = textOf(dialog);
  modal.text = textOf(GetDlgItem(dialog, kMessageTextId));
  for (int id = IDOK; id <= IDNO; ++id) {
    if (GetDlgItem(dialog, id)) modal.buttons.push_back(id);
  }
  HWND icon = GetDlgItem(dialog, kMessageIconId);
  modal.hasIcon = icon && SendMessageA(icon, STM_GETICON, 0, 0) != 0;
  LRESULT defaultId = SendMessageA(dialog, DM_GETDEFID, 0, 0);
  const int defaultButton = HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : IDCANCEL;
  ModalAnswer plan{defaultButton, 0, {}};
  if (plans_.empty()) {
    modal.planned = false;
  } else {
    plan = plans_.front();
    plans_.pop_front();
    // A box without the planned button would otherwise hand the code under test an answer it can
    // never get (or never close): the test fails, and the box is left as its default button does.
    if (!GetDlgItem(dialog, plan.button)) {
      ADD_FAILURE() << "the planned button " << plan.button << " is not on \"" << modal.caption << "\" (" << modal.text
                    << ")";
      plan.button = defaultButton;
    }
  }
  if (plan.editId) SetDlgItemTextA(dialog, plan.editId, plan.editText.c_str());
  modal.pressed = plan.button;
  seen_.push_back(modal);
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(plan.button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, plan.button)));
}

}  // namespace qrtest

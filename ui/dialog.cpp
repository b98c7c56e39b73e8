#include "dialog.h"

#include <algorithm>
#include <vector>

namespace ui {

namespace {

std::vector<HWND>& modelessDialogs() {
  static std::vector<HWND> dialogs;
  return dialogs;
}

void forgetModeless(HWND hwnd) {
  auto& dialogs = modelessDialogs();
  dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), hwnd), dialogs.end());
}

// The messages whose answer is the dialog procedure's own return value; every other handled
// message answers through DWLP_MSGRESULT and returns TRUE.
bool answeredDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_INITDIALOG:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return true;
  }
  return false;
}

}  // namespace

bool dispatchToModelessDialog(MSG& msg) {
  for (HWND dialog : modelessDialogs()) {
    if (IsDialogMessageA(dialog, &msg)) return true;
  }
  return false;
}

Dialog::~Dialog() {
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
    forgetModeless(hwnd_);
    DestroyWindow(hwnd_);
  }
}

INT_PTR Dialog::runModal(HWND parent) {
  modal_ = true;
  result_ = 0;
  return DialogBoxParamA(resources_, template_, parent, dialogProc, reinterpret_cast<LPARAM>(this));
}

HWND Dialog::createModeless(HWND parent) {
  modal_ = false;
  result_ = 0;
  HWND hwnd = CreateDialogParamA(resources_, template_, parent, dialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd) {
    modelessDialogs().push_back(hwnd);
    ShowWindow(hwnd, SW_SHOW);
  }
  return hwnd;
}

bool Dialog::onCommand(int id, int, HWND) {
  if (id == IDOK || id == IDCANCEL) {
    end(id);
    return true;
  }
  return false;
}

INT_PTR Dialog::onMessage(UINT, WPARAM, LPARAM, bool& handled) {
  handled = false;
  return 0;
}

void Dialog::end(INT_PTR result) {
  result_ = result;
  if (!hwnd_) return;
  if (modal_) {
    EndDialog(hwnd_, result);
  } else if (GetWindowLongA(hwnd_, GWL_STYLE) & WS_CHILD) {
    PostMessageA(GetParent(hwnd_), WM_CLOSE, 0, 0);
  } else {
    DestroyWindow(hwnd_);
  }
}

INT_PTR CALLBACK Dialog::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Only the dialog's creation binds the object: a WM_INITDIALOG sent again later carries
  // whatever its sender chose.
  if (message == WM_INITDIALOG && !GetWindowLongPtrA(hwnd, DWLP_USER)) {
    auto* self = reinterpret_cast<Dialog*>(lParam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!self) return FALSE;
  INT_PTR result = self->dispatch(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    forgetModeless(hwnd);
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

INT_PTR Dialog::dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return onInit() ? TRUE : FALSE;
    case WM_COMMAND:
      return onCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    default: {
      bool handled = false;
      INT_PTR result = onMessage(message, wParam, lParam, handled);
      if (!handled) return FALSE;
      if (answeredDirectly(message)) return result;
      // On the procedure's own handle: the object's is cleared when the handler destroyed the
      // dialog (and the call then fails harmlessly).
      SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
    }
  }
}

}  // namespace ui

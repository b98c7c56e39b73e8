#include "modal_answerer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "critical_section.h"
#include "window.h"

namespace qrtest {

namespace {

// The answerer of the process; the hooks, which run on the threads that make the dialogs, find it
// here, and everything they and the test's thread share is used under the lock.
ModalAnswerer* g_answerer = nullptr;

compat::CriticalSection& answererLock() {
  static compat::CriticalSection lock;
  return lock;
}

// The control id of a message box's text and icon (the same on Windows and Wine).
constexpr int kMessageTextId = 0xFFFF;
constexpr int kMessageIconId = 0x0440;

std::string textOf(HWND hwnd) {
  char buffer[1024] = "";
  if (hwnd) GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

bool isDialog(HWND hwnd) {
  char name[16] = "";
  return GetClassNameA(hwnd, name, sizeof name) && lstrcmpA(name, "#32770") == 0;
}

bool isRunning(HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; }

}  // namespace

ModalAnswerer::ModalAnswerer() {
  {
    compat::Locked locked(answererLock());
    EXPECT_EQ(nullptr, g_answerer) << "one ModalAnswerer per process";
    g_answerer = this;
  }
  // In context: called on the creating thread, inside CreateWindowEx, before the dialog's
  // WM_INITDIALOG.
  creationHook_ = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE,
                                  ui::moduleOf(reinterpret_cast<const void*>(&windowCreated)), windowCreated,
                                  GetCurrentProcessId(), 0, WINEVENT_INCONTEXT);
  EXPECT_NE(nullptr, creationHook_);
}

ModalAnswerer::~ModalAnswerer() {
  if (creationHook_) UnhookWinEvent(creationHook_);
  compat::Locked locked(answererLock());
  for (const WatchedThread& thread : threads_) {
    UnhookWindowsHookEx(thread.hook);
    CloseHandle(thread.handle);
  }
  g_answerer = nullptr;
}

void ModalAnswerer::planText(int editId, const std::string& text, int button) {
  compat::Locked locked(answererLock());
  plans_.push_back({button, editId, text});
}

void ModalAnswerer::leaveAlone(const std::string& caption) {
  compat::Locked locked(answererLock());
  leftAlone_.push_back(caption);
}

std::size_t ModalAnswerer::unexpected() const {
  compat::Locked locked(answererLock());
  return std::count_if(seen_.begin(), seen_.end(), [](const SeenModal& modal) { return !modal.planned; });
}

std::size_t ModalAnswerer::plansLeft() const {
  compat::Locked locked(answererLock());
  return plans_.size();
}

void ModalAnswerer::clear() {
  compat::Locked locked(answererLock());
  seen_.clear();
  plans_.clear();
}

void CALLBACK ModalAnswerer::windowCreated(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD,
                                           DWORD) {
  if (event != EVENT_OBJECT_CREATE || object != OBJID_WINDOW || child != CHILDID_SELF || !isDialog(hwnd)) return;
  compat::Locked locked(answererLock());
  if (g_answerer) g_answerer->watchThisThread();
}

void ModalAnswerer::watchThisThread() {
  const DWORD id = GetCurrentThreadId();
  auto known =
      std::find_if(threads_.begin(), threads_.end(), [id](const WatchedThread& thread) { return thread.id == id; });
  if (known != threads_.end()) {
    if (isRunning(known->handle)) return;
    CloseHandle(known->handle);  // an ended thread whose id came back
    threads_.erase(known);
  }
  WatchedThread thread = {id, nullptr, nullptr};
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread.handle, SYNCHRONIZE, FALSE, 0);
  thread.hook = SetWindowsHookExA(WH_CALLWNDPROCRET, hookProc, nullptr, id);
  EXPECT_NE(nullptr, thread.handle);
  EXPECT_NE(nullptr, thread.hook);
  if (thread.handle && thread.hook) threads_.push_back(thread);
}

LRESULT CALLBACK ModalAnswerer::hookProc(int code, WPARAM wParam, LPARAM lParam) {
  auto* message = reinterpret_cast<CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && message->message == WM_INITDIALOG) {
    compat::Locked locked(answererLock());
    if (g_answerer) g_answerer->answer(message->hwnd);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// On the dialog's own thread, so every message below goes straight to the dialog.
void ModalAnswerer::answer(HWND dialog) {
  SeenModal modal;
  modal.caption = textOf(dialog);
  if (std::find(leftAlone_.begin(), leftAlone_.end(), modal.caption) != leftAlone_.end()) return;
  modal.text = textOf(GetDlgItem(dialog, kMessageTextId));
  modal.thread = GetCurrentThreadId();
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

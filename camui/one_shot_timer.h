// A one-shot multimedia timer that only posts WM_TIMER to a window, with the timer's identifier
// as wParam and 0 as lParam: all the work of a tick then happens on the window's own thread.
// One timer is pending at a time: arming cancels the pending one first, and a tick whose
// identifier is not the pending one (a timer that fired while it was being cancelled) is
// foreign and ignored by `take`.
//
// The call-back runs on the system's timer thread and may fire while the window is being
// destroyed. It never touches the timer object: it looks its identifier up in a table of the
// module, under the table's lock, and posts only when the identifier is still armed. After
// `cancel` (and the destructor) returns, the cancelled timer posts nothing.
#pragma once
#include <windows.h>

namespace camui {

class OneShotTimer {
 public:
  explicit OneShotTimer(HWND window = nullptr) : window_(window) {}
  ~OneShotTimer() { cancel(); }
  OneShotTimer(const OneShotTimer&) = delete;
  OneShotTimer& operator=(const OneShotTimer&) = delete;

  void setWindow(HWND window) { window_ = window; }
  // Cancels the pending timer and arms one of `milliseconds` (resolution `resolution`); false
  // when the system has no timer to give, and then none is pending.
  bool arm(UINT milliseconds, UINT resolution = 10);
  // Nothing pending afterwards; a call-back of the cancelled timer that is running now has
  // finished when this returns.
  void cancel();
  // A WM_TIMER's wParam: true when it is the pending timer's tick, which is then spent.
  bool take(WPARAM id);
  UINT pending() const { return pending_; }

 private:
  HWND window_;
  UINT pending_ = 0;
};

}  // namespace camui

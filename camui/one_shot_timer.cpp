// The one-shot timer's table of armed identifiers and the call-back that posts through it.
#include "one_shot_timer.h"

#include <windows.h>
#include <mmsystem.h>

namespace camui {

namespace {

// Armed timers of this module: identifier and window. A handful of panels at most are open in
// one process; a timer that finds no free row is not armed.
struct Armed {
  UINT id;
  HWND window;
};
constexpr int kRows = 16;

struct Table {
  CRITICAL_SECTION lock;
  Armed rows[kRows];
  LONG running;  // call-backs between their first and last use of the table
  Table() : rows{}, running(0) { InitializeCriticalSection(&lock); }
};

Table& table() {
  static Table armed;
  return armed;
}

void CALLBACK fire(UINT id, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  Table& t = table();
  InterlockedIncrement(&t.running);
  EnterCriticalSection(&t.lock);
  for (Armed& row : t.rows) {
    if (row.id == id && row.window) {
      PostMessageA(row.window, WM_TIMER, id, 0);
      row = Armed{};
      break;
    }
  }
  LeaveCriticalSection(&t.lock);
  InterlockedDecrement(&t.running);
}

bool enter(UINT id, HWND window) {
  Table& t = table();
  EnterCriticalSection(&t.lock);
  bool entered = false;
  for (Armed& row : t.rows) {
    if (row.id == 0) {
      row = Armed{id, window};
      entered = true;
      break;
    }
  }
  LeaveCriticalSection(&t.lock);
  return entered;
}

// False when the row was gone already: the call-back has taken it.
bool remove(UINT id) {
  Table& t = table();
  EnterCriticalSection(&t.lock);
  bool found = false;
  for (Armed& row : t.rows) {
    if (row.id == id) {
      row = Armed{};
      found = true;
      break;
    }
  }
  LeaveCriticalSection(&t.lock);
  return found;
}

}  // namespace

bool OneShotTimer::arm(UINT milliseconds, UINT resolution) {
  cancel();
  Table& t = table();
  // The lock is held until the identifier is in the table, so that a call-back that comes at
  // once finds it; the call-back only waits for it and never arms or kills timers itself.
  EnterCriticalSection(&t.lock);
  const UINT id = timeSetEvent(milliseconds, resolution, fire, 0, TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
  const bool entered = id != 0 && enter(id, window_);
  LeaveCriticalSection(&t.lock);
  if (id != 0 && !entered) timeKillEvent(id);
  pending_ = entered ? id : 0;
  return entered;
}

void OneShotTimer::cancel() {
  if (pending_ == 0) return;
  const UINT id = pending_;
  pending_ = 0;
  timeKillEvent(id);
  remove(id);
  // A call-back that is past the table's lock may still be on its way out of this module.
  Table& t = table();
  for (int i = 0; i < 100 && InterlockedCompareExchange(&t.running, 0, 0) != 0; ++i) Sleep(1);
}

bool OneShotTimer::take(WPARAM id) {
  if (pending_ == 0 || id != pending_) return false;
  pending_ = 0;
  return true;
}

}  // namespace camui

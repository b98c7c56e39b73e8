// A critical section and its scoped holder, for state that several threads of a process share
// (the win32 thread model has no std::mutex).
#pragma once
#include <windows.h>

namespace ui {

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter() { EnterCriticalSection(&section_); }
  void leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class Locked {
 public:
  explicit Locked(CriticalSection& lock) : lock_(lock) { lock_.enter(); }
  ~Locked() { lock_.leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CriticalSection& lock_;
};

}  // namespace ui

// A critical section and its scoped holder, for state that several threads of a process share:
// the toolchain's win32 thread model has no std::mutex. Defined at namespace scope or as a
// function's static, a lock is made before the module's code can reach it.
#pragma once
#include <windows.h>

namespace compat {

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

}  // namespace compat

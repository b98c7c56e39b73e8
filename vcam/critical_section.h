// A process-local lock for the virtual camera's tables. The toolchain's win32 thread model has no
// std::mutex, so this is a critical section. The locks are defined at namespace scope and used only
// from the DLL's exports, which run after its static initialisation.
#pragma once
#include <windows.h>

namespace vcam {

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

class SectionGuard {
 public:
  explicit SectionGuard(CriticalSection& section) : section_(section) { section_.enter(); }
  ~SectionGuard() { section_.leave(); }
  SectionGuard(const SectionGuard&) = delete;
  SectionGuard& operator=(const SectionGuard&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace vcam

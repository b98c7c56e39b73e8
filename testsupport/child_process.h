// Runs helper programs that live beside the test program, for tests that need a second process.
#pragma once
#include <windows.h>

#include <string>

namespace qrtest {

// The directory of the running test program, with a trailing backslash.
std::string programDirectory();

class ChildProcess {
 public:
  // Starts programDirectory() + program with the given arguments, its standard output going to
  // `standardOutput` (an inheritable handle) when one is given. started() tells whether it ran.
  ChildProcess(const std::string& program, const std::string& arguments, HANDLE standardOutput = nullptr);
  ~ChildProcess();  // ends a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return process_ != nullptr; }
  // Waits for the child's exit; its exit code, or -1 when it did not end in time.
  long wait(DWORD timeoutMs = 60000);
  void terminate();

 private:
  HANDLE process_ = nullptr;
};

// Runs a helper to its end and returns its exit code (-1: could not start or did not end).
long runChild(const std::string& program, const std::string& arguments, DWORD timeoutMs = 60000);
// The same, and what the helper wrote to its standard output (all of it: read while it runs), its
// lines ending in LF alone.
long runChild(const std::string& program, const std::string& arguments, std::string& output, DWORD timeoutMs = 60000);

// A named manual-reset event the test and its helper use to hand over.
class NamedEvent {
 public:
  explicit NamedEvent(const std::string& name);
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;
  void set();
  bool waitFor(DWORD timeoutMs);

 private:
  HANDLE event_;
};

}  // namespace qrtest

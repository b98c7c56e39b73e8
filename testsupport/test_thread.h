// A second thread for tests. The toolchain's win32 thread model has no std::thread, so this runs
// the body on a Win32 thread; join() (or the destructor) waits for it.
#pragma once
#include <windows.h>

#include <functional>

namespace qrtest {

class TestThread {
 public:
  explicit TestThread(std::function<void()> body);
  ~TestThread() { join(); }
  TestThread(const TestThread&) = delete;
  TestThread& operator=(const TestThread&) = delete;

  bool joinable() const { return handle_ != nullptr; }
  void join();

 private:
  static DWORD WINAPI run(LPVOID self);
  std::function<void()> body_;
  HANDLE handle_ = nullptr;
};

}  // namespace qrtest

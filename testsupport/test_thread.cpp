#include "test_thread.h"

namespace qrtest {

TestThread::TestThread(std::function<void()> body) : body_(std::move(body)) {
  DWORD id = 0;
  handle_ = CreateThread(nullptr, 0, &TestThread::run, this, 0, &id);
}

void TestThread::join() {
  if (!handle_) return;
  WaitForSingleObject(handle_, INFINITE);
  CloseHandle(handle_);
  handle_ = nullptr;
}

DWORD WINAPI TestThread::run(LPVOID self) {
  static_cast<TestThread*>(self)->body_();
  return 0;
}

}  // namespace qrtest

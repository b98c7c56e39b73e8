// GoogleTest's hook for local configuration, found before its own empty one. The cross build uses
// the win32 thread model, whose standard library has no std::mutex or std::condition_variable;
// GoogleTest's only use of them is Notification, given here on a Win32 event. Its own Mutex and
// thread-local storage are already Win32 ones.
#ifndef QR_GTEST_CUSTOM_PORT_H_
#define QR_GTEST_CUSTOM_PORT_H_

#ifdef _WIN32
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
#endif  // _WIN32

#endif  // QR_GTEST_CUSTOM_PORT_H_

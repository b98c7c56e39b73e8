// qr3viewer.exe itself, started as a person starts it: with no profile and no camera it writes
// the profile (revision 79), asks to retry the camera, and closes when told.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "child_process.h"
#include "registry_sandbox.h"
#include "vcam_control.h"

namespace {

// The first window of this class and caption that appears within `ms` (another process's).
HWND waitForWindow(const char* className, const char* caption, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND found = FindWindowA(className, caption)) return found;
    if (GetTickCount() - start > ms) return nullptr;
    Sleep(20);
  }
}

std::string staticText(HWND box) {
  char text[256] = "";
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  return text;
}

class Program : public qrtest::VirtualCameraTest {};

TEST_F(Program, TheViewerStartsWithNoProfileAndNoCameraAsksToRetryAndCloses) {
  qrtest::ChildProcess viewer("qr3viewer.exe", "");
  ASSERT_TRUE(viewer.started());
  HWND box = waitForWindow("#32770", "QR3Viewer", 30000);
  ASSERT_NE(nullptr, box);
  EXPECT_EQ("Could not detect camera on any Port, check power and I/O connections and Retry", staticText(box));
  DWORD type = 0;
  std::string revision;
  ASSERT_TRUE(
      qrtest::readRawValue(std::string(qrtest::kProductKey) + "\\QRViewer\\UserProfile1", "Revision", type, revision));
  EXPECT_STREQ("79", revision.c_str());
  PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
  HWND frame = waitForWindow("QRFrameWindow", "QR3Viewer", 10000);
  ASSERT_NE(nullptr, frame);
  PostMessageA(frame, WM_CLOSE, 0, 0);
  EXPECT_EQ(0, viewer.wait(30000));
  EXPECT_EQ(nullptr, FindWindowA("QRFrameWindow", "QR3Viewer"));
}

}  // namespace

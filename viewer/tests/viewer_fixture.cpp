#include "viewer_fixture.h"

#include <commctrl.h>

#include "qrcamlib.h"

namespace viewertest {

void Viewer::TearDown() {
  if (app_ && open()) {
    // Leaves without questions.
    viewer::ViewerState& s = app_->window()->state();
    s.configChanged = 0;
    s.imageSaved = 1;
    close();
  }
  app_.reset();
  QRReleaseLib();
  EXPECT_EQ(0u, answers_.unexpected()) << "boxes nobody planned for";
  EXPECT_EQ(0u, answers_.plansLeft()) << "planned boxes that never came";
  VirtualCameraTest::TearDown();
  CameraListInfo list;
  QRGetCamList(&list);  // the library forgets the cameras of this test
}

void Viewer::plugUsbCamera(DWORD deviceId, const char* serial) { qrtest::plug(0, qrtest::usbCamera(deviceId, serial)); }

void Viewer::start(const std::string& commandLine) {
  app_.reset(new viewer::TBmpViewApp(GetModuleHandleA(nullptr), environment_));
  app_->frame().setQuitOnDestroy(false);
  ASSERT_TRUE(app_->start(commandLine, SW_HIDE));
}

int Viewer::settle(int limit) {
  int count = 0;
  MSG msg;
  for (;;) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (count >= limit || !app_->window() || !app_->window()->idleAction()) break;
    ++count;
  }
  return count;
}

void Viewer::steps(int count, DWORD msApart) {
  for (int i = 0; i < count; ++i) {
    environment_.time += msApart;
    app_->window()->idleAction();
  }
}

void Viewer::ticks(int count) {
  for (int i = 0; i < count; ++i) SendMessageA(window().handle(), WM_TIMER, viewer::kHousekeepingTimer, 0);
}

void Viewer::command(int id) { SendMessageA(frame(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void Viewer::close() { SendMessageA(frame(), WM_CLOSE, 0, 0); }

bool Viewer::open() const { return frame() && IsWindow(frame()); }

std::string Viewer::status() const {
  char text[512] = "";
  SendMessageA(window().statusBar(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
  return text;
}

namespace {

// Lets the window set up every drop-down menu as it does before showing one.
HMENU preparedMenu(HWND frame) {
  HMENU bar = GetMenu(frame);
  for (int i = 0; i < GetMenuItemCount(bar); ++i)
    SendMessageA(frame, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(bar, i)), i);
  return bar;
}

}  // namespace

bool Viewer::checked(int id) {
  const UINT state = GetMenuState(preparedMenu(frame()), id, MF_BYCOMMAND);
  EXPECT_NE(static_cast<UINT>(-1), state) << "no menu item " << id;
  return (state & MF_CHECKED) != 0;
}

bool Viewer::enabled(int id) {
  const UINT state = GetMenuState(preparedMenu(frame()), id, MF_BYCOMMAND);
  EXPECT_NE(static_cast<UINT>(-1), state) << "no menu item " << id;
  return (state & (MF_GRAYED | MF_DISABLED)) == 0;
}

bool Viewer::toolChecked(int id) const {
  return (SendMessageA(window().toolBar(), TB_GETSTATE, id, 0) & TBSTATE_CHECKED) != 0;
}

bool Viewer::toolEnabled(int id) const {
  return (SendMessageA(window().toolBar(), TB_GETSTATE, id, 0) & TBSTATE_ENABLED) != 0;
}

int Viewer::toolBitmap(int id) const {
  const LRESULT position = SendMessageA(window().toolBar(), TB_COMMANDTOINDEX, id, 0);
  TBBUTTON button = {};
  if (position < 0 || !SendMessageA(window().toolBar(), TB_GETBUTTON, position, reinterpret_cast<LPARAM>(&button)))
    return -1;
  return button.iBitmap;
}

std::vector<Pixel> Viewer::row(int y) const {
  RECT client;
  GetClientRect(window().handle(), &client);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = client.right;
  info.bmiHeader.biHeight = -client.bottom;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  SendMessageA(window().handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  GdiFlush();
  std::vector<Pixel> result;
  for (int x = 0; bits && y < client.bottom && x < client.right; ++x) {
    const DWORD value = static_cast<const DWORD*>(bits)[y * client.right + x];
    result.push_back(
        {static_cast<int>((value >> 16) & 255), static_cast<int>((value >> 8) & 255), static_cast<int>(value & 255)});
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return result;
}

::testing::AssertionResult statusBegins(const std::string& status, const std::string& prefix) {
  if (status.compare(0, prefix.size(), prefix) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "status \"" << status << "\" does not begin with \"" << prefix << "\"";
}

}  // namespace viewertest

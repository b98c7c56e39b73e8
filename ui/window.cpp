#include "window.h"

namespace ui {

namespace {

// The module this code is linked into. Window classes are registered for it, so that a front end
// that is a DLL (capture driver, TWAIN source) has classes of its own that leave with it, rather
// than classes of the host program that point into whichever DLL registered them first.
// A module's handle is the base of its image, which VirtualQuery names for any address inside it
// (GetModuleHandleEx, which asks the same, is Windows XP and later).
HINSTANCE codeModule() {
  MEMORY_BASIC_INFORMATION memory = {};
  if (!VirtualQuery(reinterpret_cast<LPCVOID>(&codeModule), &memory, sizeof memory)) return GetModuleHandleA(nullptr);
  return static_cast<HINSTANCE>(memory.AllocationBase);
}

}  // namespace

Window::~Window() {
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);  // no more messages reach this object
    DestroyWindow(hwnd_);
  }
}

HWND Window::create(const char* className, const char* title, DWORD style, DWORD exStyle, int x, int y, int width,
                    int height, HWND parent, HMENU menu) {
  HINSTANCE instance = codeModule();
  WNDCLASSA existing;
  if (!GetClassInfoA(instance, className, &existing)) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = className;
    if (!RegisterClassA(&wc)) return nullptr;
  }
  return CreateWindowExA(exStyle, className, title, style, x, y, width, height, parent, menu, instance, this);
}

LRESULT Window::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return defaultHandling(message, wParam, lParam);
}

LRESULT Window::defaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
  LRESULT result = self->handleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

HWND FrameWindow::create(DWORD style, DWORD exStyle, int x, int y, int width, int height) {
  return Window::create("QRFrameWindow", title_.c_str(), style, exStyle, x, y, width, height, nullptr);
}

void FrameWindow::setClient(WindowBase& client) {
  client_ = &client;
  if (fitToClient_) {
    fitClient();
  } else {
    RECT area;
    GetClientRect(hwnd_, &area);
    MoveWindow(client.handle(), 0, 0, area.right, area.bottom, TRUE);
  }
}

void FrameWindow::fitClient() {
  if (!client_) return;
  RECT clientRect;
  GetWindowRect(client_->handle(), &clientRect);
  RECT frame = {0, 0, clientRect.right - clientRect.left, clientRect.bottom - clientRect.top};
  AdjustWindowRectEx(&frame, GetWindowLongA(hwnd_, GWL_STYLE), GetMenu(hwnd_) != nullptr,
                     GetWindowLongA(hwnd_, GWL_EXSTYLE));
  SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(client_->handle(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT FrameWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (client_ && !fitToClient_) MoveWindow(client_->handle(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_SETFOCUS:
      if (client_) SetFocus(client_->handle());
      return 0;
    case WM_CLOSE:
      if (!client_ || client_->canClose()) DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      if (quitOnDestroy_) PostQuitMessage(0);
      return 0;
  }
  return Window::handleMessage(message, wParam, lParam);
}

}  // namespace ui

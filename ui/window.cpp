#include "window.h"

#include <algorithm>
#include <string>
#include <vector>

#include "critical_section.h"

namespace ui {

namespace {

// The module this code is linked into.
HINSTANCE codeModule() { return moduleOf(reinterpret_cast<const void*>(&codeModule)); }

// What the framework keeps for its module: the window classes it registered, unregistered when
// the module unloads (this object is a static of the module), and the objects whose `create` is
// running, so that the window procedure binds a new window only to the object that asked for it
// (a dialog template's control comes with no creation parameter, or with creation data).
class ModuleWindows {
 public:
  ModuleWindows() = default;
  ~ModuleWindows() { unregisterAll(); }
  ModuleWindows(const ModuleWindows&) = delete;
  ModuleWindows& operator=(const ModuleWindows&) = delete;

  bool registerClass(const char* name, WNDPROC procedure) {
    compat::Locked locked(lock_);
    if (findClass(name) != classes_.end()) return true;
    HINSTANCE instance = codeModule();
    WNDCLASSA existing;
    if (GetClassInfoA(instance, name, &existing)) {
      // Still there after an unregistration that its windows prevented: it is ours again.
      if (existing.lpfnWndProc != procedure) return false;
    } else {
      WNDCLASSA wc = {};
      wc.lpfnWndProc = procedure;
      wc.hInstance = instance;
      wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
      wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
      wc.lpszClassName = name;
      if (!RegisterClassA(&wc)) return false;
    }
    classes_.push_back(name);
    return true;
  }

  void unregisterAll() {
    compat::Locked locked(lock_);
    HINSTANCE instance = codeModule();
    for (const std::string& name : classes_) UnregisterClassA(name.c_str(), instance);
    classes_.clear();
  }

  void beginCreating(const Window* object) {
    compat::Locked locked(lock_);
    creating_.push_back(object);
  }
  void endCreating(const Window* object) {
    compat::Locked locked(lock_);
    creating_.erase(std::find(creating_.begin(), creating_.end(), object));
  }
  // Compares addresses only: `parameter` may point at anything.
  bool isCreating(const void* parameter) {
    compat::Locked locked(lock_);
    return std::find(creating_.begin(), creating_.end(), parameter) != creating_.end();
  }

 private:
  std::vector<std::string>::iterator findClass(const char* name) {
    return std::find_if(classes_.begin(), classes_.end(),
                        [name](const std::string& known) { return lstrcmpiA(known.c_str(), name) == 0; });
  }

  compat::CriticalSection lock_;
  std::vector<std::string> classes_;
  std::vector<const void*> creating_;
};

ModuleWindows& moduleWindows() {
  static ModuleWindows windows;
  return windows;
}

}  // namespace

// The allocation that holds a module's image starts at the module's base address, which is its
// handle.
HINSTANCE moduleOf(const void* address) {
  MEMORY_BASIC_INFORMATION memory = {};
  if (!VirtualQuery(address, &memory, sizeof memory)) return GetModuleHandleA(nullptr);
  return static_cast<HINSTANCE>(memory.AllocationBase);
}

void unregisterWindowClasses() { moduleWindows().unregisterAll(); }

Window::~Window() {
  if (!hwnd_ || !IsWindow(hwnd_)) return;
  SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);  // no more messages reach this object
  if (owned_) DestroyWindow(hwnd_);
}

bool Window::registerClass(const char* className) { return moduleWindows().registerClass(className, windowProc); }

HWND Window::create(const char* className, const char* title, DWORD style, DWORD exStyle, int x, int y, int width,
                    int height, HWND parent, HMENU menu) {
  if (hwnd_ || !registerClass(className)) return nullptr;
  ModuleWindows& windows = moduleWindows();
  windows.beginCreating(this);
  HWND hwnd = CreateWindowExA(exStyle, className, title, style, x, y, width, height, parent, menu, codeModule(), this);
  windows.endCreating(this);
  owned_ = hwnd != nullptr;
  return hwnd;
}

bool Window::attach(HWND control) {
  if (hwnd_ || !control) return false;
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_WNDPROC)) != windowProc) return false;
  if (GetWindowLongPtrA(control, GWLP_USERDATA)) return false;
  hwnd_ = control;
  owned_ = false;
  SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  InvalidateRect(control, nullptr, TRUE);  // painted by the object from now on
  return true;
}

LRESULT Window::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return defaultHandling(message, wParam, lParam);
}

LRESULT Window::defaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    void* parameter = reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams;
    if (parameter && moduleWindows().isCreating(parameter)) {
      auto* self = static_cast<Window*>(parameter);
      self->hwnd_ = hwnd;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
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

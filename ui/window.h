// Window and frame-window base classes of the front ends.
//
// A `Window` owns one HWND and receives its messages through the virtual `handleMessage`; the
// object must outlive its window. A `FrameWindow` is a top-level window that holds one client (a
// `Window` or a child `Dialog`, both `WindowBase`) and asks it `canClose` before closing.
#pragma once
#include <windows.h>

#include <string>

namespace ui {

// What a frame needs from its client, whatever kind of window the client is.
class WindowBase {
 public:
  virtual ~WindowBase() = default;
  HWND handle() const { return hwnd_; }
  // Asked before the frame closes; false keeps the program open.
  virtual bool canClose() { return true; }
  // One step of idle-time work; true asks to be called again before waiting for messages.
  virtual bool idleAction() { return false; }

 protected:
  HWND hwnd_ = nullptr;
};

class Window : public WindowBase {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  ~Window() override;

  // Registers the window class `className` once per process (arrow cursor, window-coloured
  // background) and creates the window. Returns the handle, or null on failure.
  HWND create(const char* className, const char* title, DWORD style, DWORD exStyle, int x, int y, int width, int height,
              HWND parent, HMENU menu = nullptr);

 protected:
  // Every message of the window; the default passes it to DefWindowProc.
  virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT defaultHandling(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// A top-level window around one client. With `fitToClient` the frame takes the client's size
// (the client keeps its own); otherwise the client fills the frame's client area.
class FrameWindow : public Window {
 public:
  FrameWindow(std::string title, bool fitToClient) : title_(std::move(title)), fitToClient_(fitToClient) {}

  // Creates the frame (hidden); then give it its client with `setClient` and show it.
  HWND create(DWORD style, DWORD exStyle, int x, int y, int width, int height);
  void setClient(WindowBase& client);
  WindowBase* client() const { return client_; }
  // Sizes the frame to the client's window rectangle (used with `fitToClient`).
  void fitClient();
  // The main frame ends the message loop when it is destroyed (the default).
  void setQuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }

 protected:
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  std::string title_;
  bool fitToClient_;
  WindowBase* client_ = nullptr;
  bool quitOnDestroy_ = true;
};

}  // namespace ui

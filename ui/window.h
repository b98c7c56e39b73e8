// Window and frame-window base classes of the front ends.
//
// A `Window` receives the messages of one HWND through the virtual `handleMessage`: a window it
// creates itself (and destroys with itself; the object must outlive it), or a control of a
// framework class that a dialog template made, bound to it with `attach`. A `FrameWindow` is a
// top-level window that holds one client (a `Window` or a child `Dialog`, both `WindowBase`) and
// asks it `canClose` before closing.
//
// Window classes are registered for the module this code is linked into, so that a front end
// that is a DLL (capture driver, TWAIN source) has classes of its own rather than classes of the
// host program that point into whichever DLL registered them first; they are unregistered when
// that module unloads.
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

  // Registers the framework window class `className` (arrow cursor, window-coloured background)
  // unless it is already, and creates the window. Returns the handle, or null on failure.
  HWND create(const char* className, const char* title, DWORD style, DWORD exStyle, int x, int y, int width, int height,
              HWND parent, HMENU menu = nullptr);

  // Registers the framework window class `className` for this module unless it is already, so
  // that a dialog template can name it for a control. False when it cannot be registered, or
  // the name is taken by a class that is not the framework's.
  static bool registerClass(const char* className);
  // Binds this object to `control`, a window of a framework class that the object did not create
  // (a dialog template's control, typically in the dialog's onInit): its messages reach
  // handleMessage from now on. The window stays its creator's; the object's destruction only
  // unbinds it. False when the control is of another class or has an object already, or this
  // object has a window.
  bool attach(HWND control);

 protected:
  // Every message of the window; the default passes it to DefWindowProc.
  virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT defaultHandling(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  bool owned_ = false;  // made by create (destroyed with the object), not attached
};

// The module (its instance handle) whose image holds `address`, found with what Windows 95 and
// NT 4.0 have.
HINSTANCE moduleOf(const void* address);

// Unregisters every window class the framework registered for this module; the system does not
// do it for a DLL, whose classes would otherwise outlive its code. It runs by itself when the
// module unloads; a DLL may call it before (its windows must be gone by then). A class is
// registered again when next used.
void unregisterWindowClasses();

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

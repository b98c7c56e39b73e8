#include "application.h"

#include <commctrl.h>

#include "dialog.h"

namespace ui {

Application::Application(HINSTANCE instance, std::string name, std::string helpFile)
    : instance_(instance), name_(std::move(name)), helpFile_(std::move(helpFile)) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
}

int Application::run(WindowBase* idle) {
  MSG msg;
  for (;;) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      if (accelerators_ && TranslateAcceleratorA(acceleratorTarget_, accelerators_, &msg)) continue;
      if (dispatchToModelessDialog(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (idle && idle->idleAction()) continue;
    WaitMessage();
  }
}

bool showHelp(HWND owner, const std::string& helpFile, UINT command, ULONG_PTR data) {
  return WinHelpA(owner, helpFile.c_str(), command, data) != FALSE;
}

}  // namespace ui

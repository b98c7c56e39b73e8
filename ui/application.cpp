#include "application.h"

#include <commctrl.h>

#include "dialog.h"
#include "proc_address.h"

namespace ui {

namespace {

// InitCommonControlsEx came with comctl32 4.70; the 4.00 of Windows 95 and NT 4.0 has only
// InitCommonControls, which registers the same Windows 95 classes.
void initCommonControls() {
  using InitEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  HMODULE comctl = GetModuleHandleA("COMCTL32.DLL");
  auto initEx = compat::procAddress<InitEx>(comctl, "InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  if (!initEx || !initEx(&controls)) InitCommonControls();
}

}  // namespace

Application::Application(HINSTANCE instance, std::string name, std::string helpFile)
    : instance_(instance), name_(std::move(name)), helpFile_(std::move(helpFile)) {
  initCommonControls();
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

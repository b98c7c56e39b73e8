// The application object: module instance, name, help file, and the message loop with an idle
// step. Help buttons call WinHelp with the front end's help file.
#pragma once
#include <windows.h>

#include <string>

#include "window.h"

namespace ui {

class Application {
 public:
  // Also turns on the common-control classes the dialogs use.
  Application(HINSTANCE instance, std::string name, std::string helpFile = {});

  HINSTANCE instance() const { return instance_; }
  const std::string& name() const { return name_; }
  const std::string& helpFile() const { return helpFile_; }
  void setAccelerators(HWND target, HACCEL accelerators) {
    acceleratorTarget_ = target;
    accelerators_ = accelerators;
  }

  // Runs the message loop until WM_QUIT; returns its exit code. Whenever no message is waiting,
  // `idle`'s idleAction is called, again and again while it returns true; then the loop waits.
  int run(WindowBase* idle = nullptr);

 private:
  HINSTANCE instance_;
  std::string name_;
  std::string helpFile_;
  HWND acceleratorTarget_ = nullptr;
  HACCEL accelerators_ = nullptr;
};

// WinHelp on `helpFile` (HELP_CONTENTS unless another command is given).
bool showHelp(HWND owner, const std::string& helpFile, UINT command = HELP_CONTENTS, ULONG_PTR data = 0);

}  // namespace ui

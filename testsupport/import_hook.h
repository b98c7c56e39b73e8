// Redirects one function that a loaded module imports, for as long as the hook lives: the module's
// calls then reach `replacement`, which can pass them on to original(). Lets a test watch what a
// DLL asks of Windows (for example every registry write of quorelreg.dll, in the order made).
#pragma once
#include <windows.h>

namespace qrtest {

class ImportHook {
 public:
  // `dll` is matched without regard to case ("advapi32.dll"); `function` is the imported name.
  ImportHook(HMODULE module, const char* dll, const char* function, void* replacement);
  ~ImportHook();
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;

  // False when the module does not import that function by name (nothing was changed).
  bool installed() const { return slot_ != nullptr; }
  template <typename Function>
  Function original() const {
    return reinterpret_cast<Function>(original_);
  }

 private:
  void** slot_ = nullptr;  // the module's import address table entry
  void* original_ = nullptr;
};

}  // namespace qrtest

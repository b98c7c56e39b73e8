// A function of a loaded DLL, looked up by name: for entry points a module must not import (a
// later Windows has them, or the DLL is loaded at run time). Null when the module or the name is
// missing.
#pragma once
#include <windows.h>

namespace compat {

template <typename Function>
Function procAddress(HMODULE module, const char* name) {
  // Through void*: FARPROC and the real signature are incompatible function types.
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace compat

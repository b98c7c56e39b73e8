// A DLL that uses the window framework as a capture driver or a TWAIN source does, so that the
// tests can see which module its window classes belong to and that they leave with it.
#include <windows.h>

#include "window.h"

extern "C" {

BOOL __stdcall RegisterFrameworkClass(const char* name) { return ui::Window::registerClass(name); }

void __stdcall UnregisterFrameworkClasses() { ui::unregisterWindowClasses(); }

}  // extern "C"

// qr3viewer.exe: the camera viewer.
#include <windows.h>

#include "main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  viewer::Environment environment;
  viewer::TBmpViewApp app(instance, environment);
  if (!app.start(commandLine ? commandLine : "", show)) return 1;
  return app.run();
}

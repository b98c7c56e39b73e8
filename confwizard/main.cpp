// confwizard.exe: sets the colour format NetMeeting asks the camera's capture driver for.
#include <windows.h>

#include "application.h"
#include "wizard_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  ui::Application app(instance, "NetMeeting Wizard");
  ui::FrameWindow frame("NetMeeting Wizard", true);
  confwizard::TWizardDlgClient dialog(instance);
  if (!confwizard::openWizard(frame, dialog)) return 1;
  return app.run();
}

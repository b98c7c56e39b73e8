#include "camera_info.h"

#include <algorithm>

#include "camera_wire.h"
#include "messages.h"
#include "qrcamlib.h"
#include "quorelreg.h"

#include "camera_info_ids.h"

namespace camui {

std::string driverTypeName(DWORD type) {
  switch (type) {
    case 0:
      return "Not Avail";
    case 1:
      return "None";
    case 2:
      return "Win95";
    case 3:
      return "NT";
    case 4:
      return "WDM_OSR21";
    case 5:
    case 6:
      return "WDM";
  }
  return "UNKNOWN";
}

std::string connectionText(const CameraConnection& connection, LONG deviceId) {
  if (!connection.found) return "Camera not detected";
  const std::string model = static_cast<DWORD>(deviceId) == camwire::SentrioV2DeviceId ? "Sentrio V2" : "Quorel\xAEIII";
  if (!connection.parallel) return ui::format("%s on USB Port", model.c_str());
  static const char* const kPortPatterns[] = {
      "%s on UniDirectional LPT%d, at 0x%X", "%s on BiDirectional LPT%d, at 0x%X", "%s on ECP Port LPT%d, at 0x%X",
      "%s on EPP8 Port LPT%d, at 0x%X",      "%s on EPP16 Port LPT%d, at 0x%X",    "%s on EPP32 Port LPT%d, at 0x%X",
  };
  const char* pattern = connection.portMode >= 0 && connection.portMode <= 5 ? kPortPatterns[connection.portMode]
                                                                             : "%s on LPT%d, at 0x%X";
  return ui::format(pattern, model.c_str(), static_cast<int>(connection.portNumber),
                    static_cast<unsigned>(connection.portAddress));
}

std::string serialText(const CameraConnection& connection) {
  if (!connection.found) return "Camera not detected";
  return ui::format("Camera SN# = %s",
                    connection.serial.empty() ? "Camera has no Serial Number" : connection.serial.c_str());
}

std::string displayText(const DisplayMode& mode) {
  const char* colours = nullptr;
  if (mode.bitsPerPixel == 4) colours = "16 colors";
  if (mode.bitsPerPixel == 8) colours = "256 colors";
  if (mode.bitsPerPixel == 16) colours = "64K colors";
  if (mode.bitsPerPixel >= 24) colours = "16Million colors";
  if (!colours) return "Display information not available";
  return ui::format("Display Driver = %d by %d in %s", mode.width, mode.height, colours);
}

std::string mmxText(bool capable, bool enabled) {
  if (!capable) return "MMX Not Detected";
  return enabled ? "MMX Enabled" : "MMX Disabled";
}

AboutDlg::AboutDlg(HINSTANCE resources, CameraInfoContent content)
    : ui::Dialog(resources, IDD_CAMERA_INFO), content_(std::move(content)) {}

DisplayMode AboutDlg::displayMode() const {
  HDC screen = GetDC(nullptr);
  const DisplayMode mode = {GetDeviceCaps(screen, BITSPIXEL), GetDeviceCaps(screen, HORZRES),
                            GetDeviceCaps(screen, VERTRES)};
  ReleaseDC(nullptr, screen);
  return mode;
}

void AboutDlg::setField(int id, const std::string& text) {
  HWND field = item(id);
  if (!field) return;
  if (std::find(content_.leftOut.begin(), content_.leftOut.end(), id) != content_.leftOut.end()) {
    ShowWindow(field, SW_HIDE);
    return;
  }
  SetWindowTextA(field, text.c_str());
}

bool AboutDlg::onInit() {
  const DisplayMode mode = displayMode();
  SetWindowTextA(hwnd_, content_.caption.c_str());
  // Centred on the screen.
  RECT frame;
  GetWindowRect(hwnd_, &frame);
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  SetWindowPos(hwnd_, nullptr, screenWidth / 2 - (frame.right - frame.left) / 2,
               screenHeight / 2 - (frame.bottom - frame.top) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

  char text[256] = "";
  ExtRegGetString("User Info", nullptr, "Name", text);
  setField(IDC_INFO_USER_NAME, ui::format("Registered User: %s", text));
  text[0] = 0;
  ExtRegGetString("User Info", nullptr, "Company", text);
  setField(IDC_INFO_USER_COMPANY, ui::format("User Company: %s", text));

  // The template's two version fields take the numbers this front end gives them.
  HWND libraryField = item(IDC_INFO_LIBRARY_VERSION), driverField = item(IDC_INFO_DRIVER_VERSION);
  SetWindowLongPtrA(libraryField, GWLP_ID, content_.libraryField);
  SetWindowLongPtrA(driverField, GWLP_ID, content_.driverField);

  setField(IDC_INFO_PROGRAM_VERSION, content_.versionLine);
  WORD library[4] = {};
  QRGetLibVersion(library);
  setField(content_.libraryField,
           ui::format("Library Version %d.%d.%d.%d", library[0], library[1], library[2], library[3]));
  QRDriverInfo driver = {};
  QRGetDriverInfo(&driver, sizeof driver);
  setField(content_.driverField,
           ui::format("Driver Type %s, Version %d.%d.%d.%d", driverTypeName(driver.driverType).c_str(),
                      static_cast<int>(driver.version[0]), static_cast<int>(driver.version[1]),
                      static_cast<int>(driver.version[2]), static_cast<int>(driver.version[3])));

  LONG identity[3] = {};
  QRGetQuorelInfo(1, identity);
  LONG deviceId = 0;
  QRGetQuorelInfo(6, &deviceId);
  setField(IDC_INFO_CONNECTION, connectionText(content_.connection, deviceId));
  setField(IDC_INFO_SERIAL, serialText(content_.connection));
  setField(IDC_INFO_DISPLAY, displayText(mode));
  setField(IDC_INFO_MMX, mmxText(content_.mmxCapable, QRGetMMXEn() != 0));
  return true;
}

}  // namespace camui

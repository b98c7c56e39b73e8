// The camera information dialog `AboutDlg` (resource 203) of the viewer, the capture driver and
// the TWAIN source: program, library and driver versions, the registered user, how the camera is
// connected, its serial number, the display mode and the MMX state. Each front end gives its own
// caption, version line and the fields it leaves out; the connection is what the front end's
// camera start found. The template comes from camera_info.rc, which the front end compiles into
// its own module (`resources`).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "dialog.h"

namespace camui {

// What a front end's camera start learnt about the camera.
struct CameraConnection {
  bool found = false;
  bool parallel = false;  // else USB
  LONG portNumber = 0;
  LONG portAddress = 0;
  LONG portMode = 0;   // 0 unidirectional, 1 bidirectional, 2 ECP, 3 EPP8, 4 EPP16, 5 EPP32
  std::string serial;  // USB cameras only; empty when the camera has none
};

struct DisplayMode {
  int bitsPerPixel;
  int width;
  int height;
};

// What differs between the front ends.
struct CameraInfoContent {
  std::string caption;       // the dialog's caption
  std::string versionLine;   // field 876, e.g. "QR3Viewer Version 6.9.1.79"
  std::vector<int> leftOut;  // fields this front end does not show (hidden)
  // The fields the library version and the driver type line go into (the capture driver moves
  // them up one place: 888 and 889).
  int libraryField = 889;
  int driverField = 897;
  CameraConnection connection;
  bool mmxCapable = false;  // the processor has MMX (the library's flag after asking for it)
};

// The texts of the fields, each formed from what is given (no Win32 calls).
std::string driverTypeName(DWORD type);
std::string connectionText(const CameraConnection& connection, LONG deviceId);
std::string serialText(const CameraConnection& connection);
std::string displayText(const DisplayMode& mode);
std::string mmxText(bool capable, bool enabled);

class AboutDlg : public ui::Dialog {
 public:
  AboutDlg(HINSTANCE resources, CameraInfoContent content);

 protected:
  bool onInit() override;
  // The screen's mode (GetDeviceCaps BITSPIXEL, HORZRES, VERTRES); tests give other modes.
  virtual DisplayMode displayMode() const;

 private:
  void setField(int id, const std::string& text);
  CameraInfoContent content_;
};

}  // namespace camui

// The camera information dialog against the virtual camera: every field for a USB camera, a
// parallel-port camera in each port mode and no camera, the display modes, the MMX states, and
// what a front end changes (caption, version line, fields left out).
#include <gtest/gtest.h>

#include <string>

#include "camera_info.h"
#include "camera_info_ids.h"
#include "camera_wire.h"
#include "controls.h"
#include "messages.h"
#include "qrcamlib.h"
#include "vcam_control.h"

namespace {

class ShownDialog : public camui::AboutDlg {
 public:
  ShownDialog(camui::CameraInfoContent content, camui::DisplayMode mode)
      : camui::AboutDlg(GetModuleHandleA(nullptr), std::move(content)), mode_(mode) {}
  std::string field(int id) const { return ui::windowText(GetDlgItem(hwnd_, id)); }
  bool visible(int id) const { return IsWindowVisible(GetDlgItem(hwnd_, id)) != FALSE; }

 protected:
  camui::DisplayMode displayMode() const override { return mode_; }

 private:
  camui::DisplayMode mode_;
};

class CameraInformation : public qrtest::VirtualCameraTest {
 protected:
  void TearDown() override {
    dialog_.reset();
    QRReleaseLib();
    VirtualCameraTest::TearDown();
    CameraListInfo list;
    QRGetCamList(&list);
  }
  // Acquires the camera plugged in (if any) as a front end's camera start does, and describes it.
  camui::CameraConnection startCamera() {
    camui::CameraConnection connection;
    EXPECT_EQ(1, QRAcquireLib());
    if (QRFindQuorel() == 0) return connection;
    connection.found = true;
    LONG identity[3] = {};
    QRGetQuorelInfo(1, identity);
    connection.parallel = identity[1] == 1;
    if (connection.parallel) {
      LONG port[3] = {};
      QRGetQuorelInfo(2, port);
      connection.portNumber = port[0];
      connection.portAddress = port[1];
      connection.portMode = port[2];
    } else {
      char serial[QR_TEXT_SIZE] = "";
      QRGetQuorelInfo(5, serial);
      connection.serial = serial;
    }
    return connection;
  }
  ShownDialog& show(camui::CameraConnection connection, camui::DisplayMode mode = {24, 1024, 768},
                    std::vector<int> leftOut = {}) {
    camui::CameraInfoContent content;
    content.caption = "SentrioV2 Camera Information";
    content.versionLine = "QR3Viewer Version 6.9.1.79";
    content.connection = connection;
    content.leftOut = std::move(leftOut);
    content.mmxCapable = true;
    dialog_.reset(new ShownDialog(content, mode));
    EXPECT_NE(nullptr, dialog_->createModeless(nullptr));
    return *dialog_;
  }

  std::unique_ptr<ShownDialog> dialog_;
};

TEST_F(CameraInformation, AUsbCameraShowsItsModelPortAndSerialNumber) {
  struct Case {
    DWORD deviceId;
    const char* serial;
    const char* connection;
    const char* serialLine;
  } cases[] = {
      {camwire::SentrioV2DeviceId, "SN-0042", "Sentrio V2 on USB Port", "Camera SN# = SN-0042"},
      {0x0403, "", "Quorel\xAEIII on USB Port", "Camera SN# = Camera has no Serial Number"},
  };
  for (const Case& c : cases) {
    qrtest::plug(0, qrtest::usbCamera(c.deviceId, c.serial));
    ShownDialog& dialog = show(startCamera());
    EXPECT_EQ(c.connection, dialog.field(IDC_INFO_CONNECTION));
    EXPECT_EQ(c.serialLine, dialog.field(IDC_INFO_SERIAL));
    dialog_.reset();
    QRReleaseLib();
  }
}

TEST_F(CameraInformation, AParallelPortCameraShowsItsPortModeNumberAndAddress) {
  const char* const expected[] = {
      "Sentrio V2 on UniDirectional LPT1, at 0x378",
      "Sentrio V2 on BiDirectional LPT1, at 0x378",
      "Sentrio V2 on ECP Port LPT1, at 0x378",
      "Sentrio V2 on EPP8 Port LPT1, at 0x378",
      "Sentrio V2 on EPP16 Port LPT1, at 0x378",
      "Sentrio V2 on EPP32 Port LPT1, at 0x378",
      "Sentrio V2 on LPT1, at 0x378",
  };
  for (DWORD mode = 0; mode <= 6; ++mode) {
    qrtest::plug(0, qrtest::parallelCamera(camwire::SentrioV2DeviceId, 1, 0x378, mode));
    ShownDialog& dialog = show(startCamera());
    EXPECT_EQ(expected[mode], dialog.field(IDC_INFO_CONNECTION)) << mode;
    EXPECT_EQ("Camera SN# = Camera has no Serial Number", dialog.field(IDC_INFO_SERIAL)) << mode;
    dialog_.reset();
    QRReleaseLib();
  }
  qrtest::plug(0, qrtest::parallelCamera(0x0403, 2, 0x278, 3));
  EXPECT_EQ("Quorel\xAEIII on EPP8 Port LPT2, at 0x278", show(startCamera()).field(IDC_INFO_CONNECTION));
}

TEST_F(CameraInformation, WithNoCameraBothCameraFieldsSaySoAndTheVersionsAreStillShown) {
  const DWORD version[4] = {5, 1, 2, 3};
  VCamSetDriverInfo(3, version);
  ShownDialog& dialog = show(startCamera());
  EXPECT_EQ("Camera not detected", dialog.field(IDC_INFO_CONNECTION));
  EXPECT_EQ("Camera not detected", dialog.field(IDC_INFO_SERIAL));
  EXPECT_EQ("QR3Viewer Version 6.9.1.79", dialog.field(IDC_INFO_PROGRAM_VERSION));
  WORD library[4] = {};
  QRGetLibVersion(library);
  EXPECT_EQ(ui::format("Library Version %d.%d.%d.%d", library[0], library[1], library[2], library[3]),
            dialog.field(IDC_INFO_LIBRARY_VERSION));
  EXPECT_EQ(0, dialog.field(IDC_INFO_DRIVER_VERSION).compare(0, 12, "Driver Type "));
  char caption[64] = "";
  GetWindowTextA(dialog.handle(), caption, sizeof caption);
  EXPECT_STREQ("SentrioV2 Camera Information", caption);
}

TEST_F(CameraInformation, TheDriverLineNamesTheDriverTypeAndVersion) {
  qrtest::plug(0, qrtest::usbCamera(0x0403, "A"));
  const DWORD version[4] = {5, 1, 2, 3};
  ASSERT_EQ(1, VCamSetDriverInfo(3, version));
  EXPECT_EQ("Driver Type NT, Version 5.1.2.3", show(startCamera()).field(IDC_INFO_DRIVER_VERSION));
  const char* const names[] = {"Not Avail", "None", "Win95", "NT", "WDM_OSR21", "WDM", "WDM", "UNKNOWN"};
  for (DWORD type = 0; type < 8; ++type) EXPECT_EQ(names[type], camui::driverTypeName(type)) << type;
  EXPECT_EQ("UNKNOWN", camui::driverTypeName(99));
}

TEST_F(CameraInformation, TheDisplayLineFollowsTheDisplayMode) {
  struct Case {
    int bits;
    const char* text;
  } cases[] = {
      {4, "Display Driver = 800 by 600 in 16 colors"},
      {8, "Display Driver = 800 by 600 in 256 colors"},
      {16, "Display Driver = 800 by 600 in 64K colors"},
      {24, "Display Driver = 800 by 600 in 16Million colors"},
      {32, "Display Driver = 800 by 600 in 16Million colors"},
      {15, "Display information not available"},
      {1, "Display information not available"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, show({}, {c.bits, 800, 600}).field(IDC_INFO_DISPLAY)) << c.bits;
    dialog_.reset();
  }
}

TEST_F(CameraInformation, TheRegisteredUserAndTheMmxStateAreShown) {
  const std::string userInfo = std::string(qrtest::kProductKey) + "\\User Info";
  qrtest::writeRawValue(userInfo, "Name", REG_SZ, "Ada Lovelace", 13);
  qrtest::writeRawValue(userInfo, "Company", REG_SZ, "Analytical Engines", 19);
  qrtest::plug(0, qrtest::usbCamera(0x0403, "A"));
  const camui::CameraConnection connection = startCamera();
  const bool mmx = QRSetMMXEn(1) != 0;
  ShownDialog& dialog = show(connection);
  EXPECT_EQ("Registered User: Ada Lovelace", dialog.field(IDC_INFO_USER_NAME));
  EXPECT_EQ("User Company: Analytical Engines", dialog.field(IDC_INFO_USER_COMPANY));
  EXPECT_EQ(mmx ? "MMX Enabled" : "MMX Disabled", dialog.field(IDC_INFO_MMX));
  EXPECT_EQ("MMX Disabled", camui::mmxText(true, false));
  EXPECT_EQ("MMX Not Detected", camui::mmxText(false, true));
}

TEST_F(CameraInformation, AFrontEndsOwnCaptionAndLeftOutFieldsAndTheDialogIsCentred) {
  camui::CameraInfoContent content;
  content.caption = "Sentrio V2 DigiCam AVI Driver";
  content.versionLine = "Driver Version 6.9.1.80";
  content.leftOut = {IDC_INFO_DISPLAY, IDC_INFO_MMX};
  dialog_.reset(new ShownDialog(content, {24, 1024, 768}));
  ASSERT_NE(nullptr, dialog_->createModeless(nullptr));
  char caption[64] = "";
  GetWindowTextA(dialog_->handle(), caption, sizeof caption);
  EXPECT_STREQ("Sentrio V2 DigiCam AVI Driver", caption);
  EXPECT_EQ("Driver Version 6.9.1.80", dialog_->field(IDC_INFO_PROGRAM_VERSION));
  EXPECT_FALSE(dialog_->visible(IDC_INFO_DISPLAY));
  EXPECT_FALSE(dialog_->visible(IDC_INFO_MMX));
  EXPECT_TRUE(dialog_->visible(IDC_INFO_CONNECTION));
  RECT frame;
  GetWindowRect(dialog_->handle(), &frame);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN) / 2 - (frame.right - frame.left) / 2, frame.left);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN) / 2 - (frame.bottom - frame.top) / 2, frame.top);
}

}  // namespace

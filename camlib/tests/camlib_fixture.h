// The camera library against the virtual camera, in this process.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "qrcamlib.h"
#include "vcam_control.h"

namespace camlibtest {

// Starts every test with nothing plugged in and a library that has forgotten every camera: the
// library keeps its table for the life of the process, so a refresh with no camera empties it.
class CameraLibrary : public qrtest::VirtualCameraTest {
 protected:
  void SetUp() override {
    VirtualCameraTest::SetUp();
    QRReleaseLib();
    forgetCameras();
  }
  void TearDown() override {
    QRReleaseLib();
    VirtualCameraTest::TearDown();
    forgetCameras();
  }
  static void forgetCameras() {
    CameraListInfo list;
    QRGetCamList(&list);
  }
  // Plugs one USB camera at position 0 and acquires it.
  void acquireUsbCamera(DWORD deviceId = 0x0403, const char* serial = "SN-0001") {
    qrtest::plug(0, qrtest::usbCamera(deviceId, serial));
    ASSERT_EQ(1, QRAcquireLib());
    ASSERT_EQ(1, QRFindQuorel());
  }
  static CameraListInfo cameraList() {
    CameraListInfo list;
    EXPECT_EQ(0, QRGetCamList(&list));
    return list;
  }
};

}  // namespace camlibtest

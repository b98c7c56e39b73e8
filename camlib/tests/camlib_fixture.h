// The camera library against the virtual camera, in this process.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "qrcamlib.h"
#include "vcam_control.h"

namespace camlibtest {

// One register write as the camera received it: register, value, length of the data stage (256
// for the two tables, whose value is 0).
struct RegisterWrite {
  DWORD index, value, length;
};

// The vendor requests since the last VCamClearLog are exactly these register writes, in order.
inline void expectRegisterWrites(const std::vector<RegisterWrite>& expected) {
  const std::vector<VCamLogEntry> got = qrtest::vendorRequests();
  ASSERT_EQ(expected.size(), got.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const RegisterWrite& want = expected[i];
    EXPECT_EQ(0u, got[i].direction) << "request " << i;
    EXPECT_EQ(0x60u, got[i].request) << "request " << i;
    EXPECT_EQ(want.index, got[i].index) << "request " << i;
    EXPECT_EQ(want.value, got[i].value) << "request " << i << " register " << want.index;
    EXPECT_EQ(want.length, got[i].length) << "request " << i << " register " << want.index;
  }
}

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

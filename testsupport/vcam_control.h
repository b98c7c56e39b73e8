// Tests drive the camera library against the virtual camera: these helpers make qrcamlib take its
// device functions from qrvcam.dll, plug cameras in, and read back what the camera received.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qrvcam.h"
#include "registry_sandbox.h"

namespace qrtest {

// Full path of the qrvcam.dll this test program loaded.
std::string virtualCameraPath();
// Points HKLM "Software\Orvane Imaging" "Camera Device Provider" at qrvcam.dll. The library reads
// it once per process, before its first device access.
void installVirtualCamera();

// A camera description for VCamPlug.
VCamDevice usbCamera(DWORD deviceId, const char* serial = "", DWORD publish = VCAM_PUBLISH_FIXED_PATH);
VCamDevice parallelCamera(DWORD deviceId, DWORD portNumber, DWORD portAddress, DWORD portMode);

// Plugs a camera in and checks that it worked.
void plug(int index, const VCamDevice& device);

// The requests logged since the last VCamClearLog, oldest first.
std::vector<VCamLogEntry> requestLog();
// Only the vendor requests (register reads and writes).
std::vector<VCamLogEntry> vendorRequests();

DWORD cameraRegister(int index, int reg);

// Registry sandbox plus a virtual camera with nothing plugged in, before and after every test.
class VirtualCameraTest : public RegistrySandbox {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace qrtest

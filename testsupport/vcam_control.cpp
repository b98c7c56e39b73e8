#include "vcam_control.h"

#include <cstring>

namespace qrtest {

std::string virtualCameraPath() {
  HMODULE module = GetModuleHandleA("qrvcam.dll");
  char path[MAX_PATH] = {};
  if (module) GetModuleFileNameA(module, path, MAX_PATH);
  return path;
}

void installVirtualCamera() {
  const std::string path = virtualCameraPath();
  ASSERT_FALSE(path.empty()) << "qrvcam.dll is not loaded";
  writeRawValue(kProductKey, "Camera Device Provider", REG_SZ, path.c_str(), static_cast<DWORD>(path.size() + 1));
}

VCamDevice usbCamera(DWORD deviceId, const char* serial, DWORD publish) {
  VCamDevice device{};
  device.busType = 2;
  device.deviceId = deviceId;
  device.infoWord1 = 0x100 + deviceId;
  device.infoWord2 = 0x200;
  device.publish = publish;
  std::strncpy(device.text1, "Quorel USB camera", VCAM_TEXT_SIZE - 1);
  std::strncpy(device.text2, "virtual", VCAM_TEXT_SIZE - 1);
  std::strncpy(device.serial, serial, VCAM_TEXT_SIZE - 1);
  return device;
}

VCamDevice parallelCamera(DWORD deviceId, DWORD portNumber, DWORD portAddress, DWORD portMode) {
  VCamDevice device{};
  device.busType = 1;
  device.deviceId = deviceId;
  device.portNumber = portNumber;
  device.portAddress = portAddress;
  device.portMode = portMode;
  device.publish = VCAM_PUBLISH_FIXED_PATH;
  return device;
}

void plug(int index, const VCamDevice& device) { ASSERT_EQ(1, VCamPlug(index, &device)) << "plug " << index; }

std::vector<VCamLogEntry> requestLog() {
  const LONG count = VCamGetLogCount();
  std::vector<VCamLogEntry> entries(count > 0 ? count : 0);
  if (count > 0) entries.resize(VCamReadLog(0, entries.data(), count));
  return entries;
}

std::vector<VCamLogEntry> vendorRequests() {
  std::vector<VCamLogEntry> vendor;
  for (const VCamLogEntry& entry : requestLog()) {
    if (entry.code == 0x222008) vendor.push_back(entry);
  }
  return vendor;
}

DWORD cameraRegister(int index, int reg) {
  DWORD value = 0xDEADBEEF;
  EXPECT_EQ(1, VCamReadRegister(index, reg, &value)) << "register " << reg;
  return value;
}

void VirtualCameraTest::SetUp() {
  RegistrySandbox::SetUp();
  installVirtualCamera();
  ASSERT_EQ(1, VCamReset());
}

void VirtualCameraTest::TearDown() {
  VCamReset();
  RegistrySandbox::TearDown();
}

}  // namespace qrtest

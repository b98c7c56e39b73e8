#include "camera_io.h"

#include <cstring>

#include "device_provider.h"

namespace camlib {

namespace {

bool control(HANDLE device, std::uint32_t code, const void* input, DWORD inputSize, void* output, DWORD outputSize) {
  const DeviceFiles& files = deviceFiles();
  if (!device || !files.deviceIoControl) return false;
  DWORD returned = 0;
  return files.deviceIoControl(device, code, const_cast<void*>(input), inputSize, output, outputSize, &returned,
                               nullptr) != FALSE;
}

void copyText(char (&to)[camwire::kTextSize], const char (&from)[camwire::kTextSize]) {
  std::memcpy(to, from, sizeof to);
  to[sizeof to - 1] = 0;  // the driver's text need not be terminated
}

void vendorRequest(HANDLE device, const camwire::VendorRequest& request) {
  std::uint32_t ignored = 0;
  control(device, camwire::kVendorRequest, &request, sizeof request, &ignored, sizeof ignored);
}

}  // namespace

HANDLE openDevice(const char* path, bool* busy) {
  if (busy) *busy = false;
  const DeviceFiles& files = deviceFiles();
  if (!files.createFile) return nullptr;
  HANDLE device = files.createFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device != INVALID_HANDLE_VALUE && device != nullptr) return device;
  const DWORD error = GetLastError();
  if (busy) *busy = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
  return nullptr;
}

void closeDevice(HANDLE& device) {
  if (device && deviceFiles().closeHandle) deviceFiles().closeHandle(device);
  device = nullptr;
}

bool requestCameraInfo(HANDLE device, CameraRecord& record) {
  const std::uint32_t input = 0;
  camwire::CameraInfoReply reply{};
  if (!control(device, camwire::kGetInfo, &input, sizeof input, &reply, sizeof reply)) return false;
  if (reply.status != camwire::kStatusOk) return false;
  record.busType = static_cast<std::int32_t>(reply.busType);
  record.infoWord1 = static_cast<std::int32_t>(reply.infoWord1);
  record.deviceId = static_cast<std::int32_t>(reply.deviceId);
  record.portNumber = static_cast<std::int32_t>(reply.portNumber);
  record.portAddress = static_cast<std::int32_t>(reply.portAddress);
  record.portMode = static_cast<std::int32_t>(reply.portMode);
  record.infoWord2 = static_cast<std::int32_t>(reply.infoWord2);
  copyText(record.text1, reply.text1);
  copyText(record.text2, reply.text2);
  copyText(record.serial, reply.serial);
  return true;
}

bool requestDriverInfo(HANDLE device, DriverInfo& info, const OSVERSIONINFOA& os) {
  const camwire::DriverInfoRequest query = {os.dwPlatformId, os.dwMajorVersion, os.dwMinorVersion};
  camwire::DriverInfoReply reply{};  // a request the driver does not answer leaves status 0, type 0
  info.driverType = 0;
  control(device, camwire::kGetDriverInfo, &query, sizeof query, &reply, sizeof reply);
  if (reply.status == camwire::kStatusGone) return false;
  info.driverType = reply.driverType;
  std::memcpy(info.version, reply.version, sizeof info.version);
  return true;
}

void writeRegister(HANDLE device, std::uint32_t reg, std::uint32_t value) {
  vendorRequest(device, {camwire::kHostToCamera, camwire::kWriteRegister, value, reg, 0, 0});
}

void writeRegisterTable(HANDLE device, std::uint32_t reg, const std::uint8_t* table256) {
  const auto address = reinterpret_cast<camwire::Address>(table256);
  vendorRequest(device, {camwire::kHostToCamera, camwire::kWriteRegister, 0, reg, camwire::kTableSize, address});
}

std::uint32_t readRegister(HANDLE device, std::uint32_t reg) {
  std::uint32_t answer = 0;  // the camera's two bytes land in the low half
  const auto address = reinterpret_cast<camwire::Address>(&answer);
  vendorRequest(device, {camwire::kCameraToHost, camwire::kReadRegister, 0, reg, 2, address});
  return answer;
}

std::uint32_t requestFrame(HANDLE device, void* buffer, std::uint32_t length, bool* lost) {
  const camwire::FrameRequest request = {length, reinterpret_cast<camwire::Address>(buffer)};
  camwire::FrameReply reply{};
  const bool answered = control(device, camwire::kReadFrame, &request, sizeof request, &reply, sizeof reply);
  if (lost) *lost = !answered || reply.status == camwire::kStatusGone;
  if (!answered || reply.status == camwire::kStatusGone) return 0;
  return reply.bytesStored < length ? reply.bytesStored : length;
}

}  // namespace camlib

// The four driver requests and the device seam, below the exports, against the virtual camera.
#include <cstring>
#include <string>
#include <vector>

#include "camera_io.h"
#include "vcam_control.h"

namespace {

using namespace camlib;
using qrtest::plug;
using qrtest::usbCamera;

class Transport : public qrtest::VirtualCameraTest {
 protected:
  void TearDown() override {
    closeDevice(device_);
    closeDevice(second_);
    VirtualCameraTest::TearDown();
  }
  HANDLE device_ = nullptr;
  HANDLE second_ = nullptr;
};

TEST_F(Transport, OpenTellsAbsentFromHeldElsewhere) {
  bool busy = true;
  EXPECT_EQ(nullptr, openDevice("\\\\.\\QRVIDDEV0", &busy));
  EXPECT_FALSE(busy);
  plug(0, usbCamera(1));
  device_ = openDevice("\\\\.\\QRVIDDEV0", &busy);
  ASSERT_NE(nullptr, device_);
  EXPECT_FALSE(busy);
  EXPECT_EQ(nullptr, openDevice("\\\\.\\QRVIDDEV0", &busy));
  EXPECT_TRUE(busy);
  closeDevice(device_);
  EXPECT_EQ(nullptr, device_);
  second_ = openDevice("\\\\.\\QRVIDDEV0", &busy);
  EXPECT_NE(nullptr, second_);
}

TEST_F(Transport, CameraInfoIsCopiedFieldByFieldWithTextsTerminated) {
  VCamDevice camera = qrtest::parallelCamera(0x0201, 3, 0x278, 2);
  camera.infoWord1 = 0x51;
  camera.infoWord2 = 0x52;
  std::memset(camera.serial, 'S', sizeof camera.serial);  // a driver's text need not end in a zero
  plug(0, camera);
  device_ = openDevice("\\\\.\\QRVIDDEV0");
  ASSERT_NE(nullptr, device_);
  CameraRecord record{};
  record.id = 42;
  ASSERT_TRUE(requestCameraInfo(device_, record));
  EXPECT_EQ(42, record.id);
  EXPECT_EQ(1, record.busType);
  EXPECT_EQ(0x51, record.infoWord1);
  EXPECT_EQ(0x201, record.deviceId);
  EXPECT_EQ(3, record.portNumber);
  EXPECT_EQ(0x278, record.portAddress);
  EXPECT_EQ(2, record.portMode);
  EXPECT_EQ(0x52, record.infoWord2);
  EXPECT_EQ(127u, strnlen(record.serial, sizeof record.serial));
  ASSERT_EQ(1, VCamSetGone(0, 1));
  EXPECT_FALSE(requestCameraInfo(device_, record));
}

TEST_F(Transport, DriverInfoFailsOnlyForAGoneDevice) {
  const DWORD version[4] = {5, 6, 7, 8};
  ASSERT_EQ(1, VCamSetDriverInfo(3, version));
  plug(0, usbCamera(1));
  device_ = openDevice("\\\\.\\QRVIDDEV0");
  OSVERSIONINFOA os{};
  os.dwPlatformId = 2;
  os.dwMajorVersion = 5;
  DriverInfo info{};
  ASSERT_TRUE(requestDriverInfo(device_, info, os));
  EXPECT_EQ(3u, info.driverType);
  EXPECT_EQ(8u, info.version[3]);
  ASSERT_EQ(1, VCamSetGone(0, 1));
  EXPECT_FALSE(requestDriverInfo(device_, info, os));
  EXPECT_EQ(0u, info.driverType);  // cleared before each request
  // A request that fails outright (here: no device) counts as an answer with nothing in it.
  EXPECT_TRUE(requestDriverInfo(nullptr, info, os));
  EXPECT_EQ(0u, info.driverType);
}

TEST_F(Transport, RegisterRequestsUseTheVendorProtocol) {
  plug(0, usbCamera(1));
  device_ = openDevice("\\\\.\\QRVIDDEV0");
  VCamClearLog();
  writeRegister(device_, 36, 99);
  std::uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint8_t>(i ^ 0x55);
  writeRegisterTable(device_, 13, table);
  EXPECT_EQ(99u, readRegister(device_, 36));
  const auto requests = qrtest::vendorRequests();
  ASSERT_EQ(3u, requests.size());
  const DWORD expected[3][5] = {{0, 0x60, 99, 36, 0}, {0, 0x60, 0, 13, 256}, {1, 0x61, 0, 36, 2}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(expected[i][0], requests[i].direction) << i;
    EXPECT_EQ(expected[i][1], requests[i].request) << i;
    EXPECT_EQ(expected[i][2], requests[i].value) << i;
    EXPECT_EQ(expected[i][3], requests[i].index) << i;
    EXPECT_EQ(expected[i][4], requests[i].length) << i;
  }
  BYTE back[256];
  ASSERT_EQ(1, VCamReadToneTable(0, back));
  EXPECT_EQ(0, std::memcmp(table, back, 256));
}

// The frame request stores the frame through the address inside the request and answers the
// frame's length; a driver that reports more than was asked for (a frame longer than the buffer)
// is believed only up to the buffer's length.
TEST_F(Transport, FrameRequestReportsTheFrameLength) {
  plug(0, usbCamera(1));
  device_ = openDevice("\\\\.\\QRVIDDEV0");
  ASSERT_NE(nullptr, device_);
  writeRegister(device_, 27, 16);  // raw 16 x 8 frames: 256 bytes
  writeRegister(device_, 28, 8);
  writeRegister(device_, 10, 0);
  struct Case {
    std::uint32_t asked, reported;
  };
  const Case cases[] = {{4096, 256}, {256, 256}, {100, 100}, {0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    std::vector<std::uint8_t> buffer(4096 + 16, 0x5A);
    EXPECT_EQ(c.reported, requestFrame(device_, buffer.data(), c.asked));
    const std::size_t stored = c.asked < 256 ? c.asked : 256;
    std::size_t beyond = 0;
    for (std::size_t i = stored; i < buffer.size(); ++i) beyond += buffer[i] != 0x5A;
    EXPECT_EQ(0u, beyond) << "stored past the frame or the length asked";
    if (stored) {
      EXPECT_NE(std::vector<std::uint8_t>(stored, 0x5A),
                std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(stored)));
    }
  }
  VCamDeviceStatus status;
  ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
  EXPECT_EQ(4u, status.framesDelivered);
  // A replayed frame of 5,000 bytes into a 1,000-byte request: the driver tells 5,000.
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + "qrcamlib-transport-long-frame.bin";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  const std::vector<char> longFrame(5000, 'L');
  DWORD written = 0;
  WriteFile(file, longFrame.data(), static_cast<DWORD>(longFrame.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(1, VCamQueueReplay(0, path.c_str()));
  std::vector<std::uint8_t> buffer(1000 + 16, 0x5A);
  EXPECT_EQ(1000u, requestFrame(device_, buffer.data(), 1000));
  EXPECT_EQ('L', buffer[999]);
  EXPECT_EQ(0x5A, buffer[1000]);
  DeleteFileA(path.c_str());

  ASSERT_EQ(1, VCamSetGone(0, 1));
  EXPECT_EQ(0u, requestFrame(device_, buffer.data(), 1000));
  EXPECT_EQ(0u, requestFrame(nullptr, buffer.data(), 16));
}

}  // namespace

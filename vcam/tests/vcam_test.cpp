// The virtual camera's device side, called the way a driver client would (through the seven
// exported Win32 entry points), and its control program.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"
#include "frame_source.h"
#include "qrvcam.h"
#include "scene.h"
#include "vcam_control.h"

namespace {

using qrtest::plug;
using qrtest::usbCamera;

constexpr DWORD kGetInfo = 0x222004, kVendor = 0x222008, kReadFrame = 0x22200C, kDriverInfo = 0x22201C;

// The two requests that carry an address, laid out as a caller does: 32-bit words, then the
// pointer-sized address of the buffer (24 and 8 bytes on 32-bit Windows).
struct VendorWords {
  DWORD direction, request, value, index, length;
  UINT_PTR buffer;
};
struct FrameWords {
  DWORD length;
  UINT_PTR buffer;
};

// The seven entry points as qrcamlib sees them: looked up by name in qrvcam.dll.
struct Device {
  decltype(&CreateFileA) createFile;
  decltype(&DeviceIoControl) ioControl;
  decltype(&CloseHandle) close;
  decltype(&SetupDiGetClassDevsA) getClassDevs;
  decltype(&SetupDiEnumDeviceInterfaces) enumInterfaces;
  decltype(&SetupDiGetDeviceInterfaceDetailA) interfaceDetail;
  decltype(&SetupDiDestroyDeviceInfoList) destroyList;
};

template <typename F>
F lookUp(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("qrvcam.dll"), name)));
}

const Device& device() {
  static const Device d = {
      lookUp<decltype(&CreateFileA)>("CreateFileA"),
      lookUp<decltype(&DeviceIoControl)>("DeviceIoControl"),
      lookUp<decltype(&CloseHandle)>("CloseHandle"),
      lookUp<decltype(&SetupDiGetClassDevsA)>("SetupDiGetClassDevsA"),
      lookUp<decltype(&SetupDiEnumDeviceInterfaces)>("SetupDiEnumDeviceInterfaces"),
      lookUp<decltype(&SetupDiGetDeviceInterfaceDetailA)>("SetupDiGetDeviceInterfaceDetailA"),
      lookUp<decltype(&SetupDiDestroyDeviceInfoList)>("SetupDiDestroyDeviceInfoList"),
  };
  return d;
}

const GUID kCameraClass = {0x5689CE5B, 0x2D63, 0x4615, {0xB0, 0xDE, 0xAE, 0x4D, 0xB7, 0xD8, 0x0C, 0xB5}};

class VirtualCamera : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, VCamReset());
    ASSERT_TRUE(device().createFile && device().ioControl && device().close && device().getClassDevs &&
                device().enumInterfaces && device().interfaceDetail && device().destroyList);
  }
  void TearDown() override {
    for (HANDLE h : handles_) device().close(h);
    VCamReset();
  }
  HANDLE open(const char* path) {
    HANDLE h = device().createFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) handles_.push_back(h);
    return h;
  }
  void close(HANDLE h) {
    for (auto it = handles_.begin(); it != handles_.end(); ++it) {
      if (*it == h) {
        handles_.erase(it);
        break;
      }
    }
    EXPECT_TRUE(device().close(h));
  }
  static BOOL control(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    return device().ioControl(h, code, const_cast<void*>(in), inSize, out, outSize, returned, nullptr);
  }
  static DWORD writeRegister(HANDLE h, DWORD reg, DWORD value, const void* data = nullptr, DWORD length = 0) {
    const VendorWords request = {0, 0x60, value, reg, length, reinterpret_cast<UINT_PTR>(data)};
    DWORD status = 0xFFFF, returned = 0;
    EXPECT_TRUE(control(h, kVendor, &request, sizeof request, &status, sizeof status, &returned));
    EXPECT_EQ(4u, returned);
    return status;
  }
  static DWORD readRegister(HANDLE h, DWORD reg, DWORD preset = 0xAAAAAAAA) {
    DWORD answer = preset;
    const VendorWords request = {1, 0x61, 0, reg, 2, reinterpret_cast<UINT_PTR>(&answer)};
    DWORD status = 0, returned = 0;
    EXPECT_TRUE(control(h, kVendor, &request, sizeof request, &status, sizeof status, &returned));
    return answer;
  }
  static DWORD infoStatus(HANDLE h, BYTE* reply416 = nullptr) {
    BYTE reply[416];
    const DWORD zero = 0;
    DWORD returned = 0;
    EXPECT_TRUE(control(h, kGetInfo, &zero, 4, reply, sizeof reply, &returned));
    EXPECT_EQ(416u, returned);
    if (reply416) std::memcpy(reply416, reply, sizeof reply);
    DWORD status;
    std::memcpy(&status, reply, 4);
    return status;
  }
  std::vector<HANDLE> handles_;
};

DWORD wordAt(const BYTE* bytes, size_t offset) {
  DWORD w;
  std::memcpy(&w, bytes + offset, 4);
  return w;
}

TEST_F(VirtualCamera, FixedPathsOpenExclusivelyAndOnlyWhilePlugged) {
  EXPECT_EQ(INVALID_HANDLE_VALUE, open("\\\\.\\QRVIDDEV3"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  plug(3, usbCamera(0x0403));
  HANDLE first = open("\\\\.\\QRVIDDEV3");
  ASSERT_NE(INVALID_HANDLE_VALUE, first);
  EXPECT_EQ(INVALID_HANDLE_VALUE, open("\\\\.\\qrviddev3"));  // the same device, held
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  VCamDeviceStatus status;
  ASSERT_EQ(1, VCamGetDeviceStatus(3, &status));
  EXPECT_EQ(1u, status.open);
  close(first);
  HANDLE again = open("\\\\.\\QRVIDDEV3");
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  for (const char* other : {"\\\\.\\QRVIDDEV2", "\\\\.\\QRVIDDEVG", "\\\\.\\QRVIDDEV33"})
    EXPECT_EQ(INVALID_HANDLE_VALUE, open(other)) << other;
}

TEST_F(VirtualCamera, OtherPathsAndHandlesGoToTheSystem) {
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  std::strcat(path, "vcam-passthrough.txt");
  HANDLE file = device().createFile(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  EXPECT_TRUE(device().close(file));
  EXPECT_TRUE(DeleteFileA(path));
}

TEST_F(VirtualCamera, CameraInfoReplyHasTheDriverLayout) {
  VCamDevice camera = qrtest::parallelCamera(0x0201, 2, 0x3BC, 5);
  camera.infoWord1 = 0x11;
  camera.infoWord2 = 0x22;
  std::strcpy(camera.text1, "first");
  std::strcpy(camera.text2, "second");
  std::strcpy(camera.serial, "SER-9");
  plug(0, camera);
  HANDLE h = open("\\\\.\\QRVIDDEV0");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  BYTE reply[416];
  ASSERT_EQ(0u, infoStatus(h, reply));
  EXPECT_EQ(1u, wordAt(reply, 4));       // bus type
  EXPECT_EQ(0x11u, wordAt(reply, 8));    // InfoWord1
  EXPECT_EQ(0x201u, wordAt(reply, 12));  // device identifier
  EXPECT_EQ(5u, wordAt(reply, 16));      // port mode comes before number and address
  EXPECT_EQ(2u, wordAt(reply, 20));
  EXPECT_EQ(0x3BCu, wordAt(reply, 24));
  EXPECT_EQ(0x22u, wordAt(reply, 28));
  EXPECT_STREQ("first", reinterpret_cast<const char*>(reply + 32));
  EXPECT_STREQ("second", reinterpret_cast<const char*>(reply + 160));
  EXPECT_STREQ("SER-9", reinterpret_cast<const char*>(reply + 288));
}

TEST_F(VirtualCamera, DriverInfoAnswersTheConfiguredDriverAndRecordsTheQuery) {
  const DWORD version[4] = {3, 1, 4, 1};
  ASSERT_EQ(1, VCamSetDriverInfo(4, version));
  plug(0, usbCamera(1));
  HANDLE h = open("\\\\.\\QRVIDDEV0");
  const DWORD query[3] = {2, 5, 1};
  DWORD reply[6] = {}, returned = 0;
  ASSERT_TRUE(control(h, kDriverInfo, query, sizeof query, reply, sizeof reply, &returned));
  EXPECT_EQ(24u, returned);
  EXPECT_EQ(0u, reply[0]);
  EXPECT_EQ(4u, reply[1]);
  EXPECT_EQ(0, std::memcmp(version, reply + 2, sizeof version));
  VCamStats stats;
  ASSERT_EQ(1, VCamGetStats(&stats));
  EXPECT_EQ(2u, stats.lastDriverQuery[0]);
  EXPECT_EQ(5u, stats.lastDriverQuery[1]);
  EXPECT_EQ(1u, stats.lastDriverQuery[2]);
}

TEST_F(VirtualCamera, RegistersAndTablesTakeWhatTheHostWrites) {
  plug(0, usbCamera(1));
  HANDLE h = open("\\\\.\\QRVIDDEV0");
  EXPECT_EQ(0u, writeRegister(h, 26, 0x1234));
  EXPECT_EQ(0x1234u, qrtest::cameraRegister(0, 26));
  EXPECT_EQ(0xAAAA1234u, readRegister(h, 26));  // two bytes answered, the rest untouched
  EXPECT_EQ(0u, writeRegister(h, 37, 0x12345));
  EXPECT_EQ(0x2345u, readRegister(h, 37, 0));

  BYTE tone[256];
  for (int i = 0; i < 256; ++i) tone[i] = static_cast<BYTE>(255 - i);
  EXPECT_EQ(0u, writeRegister(h, 13, 0, tone, 256));
  BYTE toneBack[256];
  ASSERT_EQ(1, VCamReadToneTable(0, toneBack));
  EXPECT_EQ(0, std::memcmp(tone, toneBack, 256));

  BYTE quantBytes[256];
  for (int i = 0; i < 128; ++i) {
    quantBytes[2 * i] = static_cast<BYTE>(i);
    quantBytes[2 * i + 1] = static_cast<BYTE>(i & 1);
  }
  EXPECT_EQ(0u, writeRegister(h, 25, 0, quantBytes, 256));
  WORD quant[128];
  ASSERT_EQ(1, VCamReadQuantTable(0, quant));
  EXPECT_EQ(0x0000, quant[0]);
  EXPECT_EQ(0x0101, quant[1]);
  EXPECT_EQ(0x017F, quant[127]);
}

TEST_F(VirtualCamera, Register42BitOneIsTheButton) {
  plug(0, usbCamera(1));
  HANDLE h = open("\\\\.\\QRVIDDEV0");
  EXPECT_EQ(0u, readRegister(h, 42, 0));
  ASSERT_EQ(1, VCamSetButton(0, 1));
  EXPECT_EQ(2u, readRegister(h, 42, 0));
  writeRegister(h, 42, 0);  // read only
  EXPECT_EQ(2u, readRegister(h, 42, 0));
  ASSERT_EQ(1, VCamSetButton(0, 0));
  EXPECT_EQ(0u, readRegister(h, 42, 0));
}

TEST_F(VirtualCamera, GoneCameraAnswersStatus18AndIgnoresWrites) {
  plug(0, usbCamera(1));
  HANDLE h = open("\\\\.\\QRVIDDEV0");
  writeRegister(h, 5, 10);
  ASSERT_EQ(1, VCamSetGone(0, 1));
  EXPECT_EQ(18u, infoStatus(h));
  EXPECT_EQ(18u, writeRegister(h, 5, 99));
  EXPECT_EQ(10u, qrtest::cameraRegister(0, 5));
  const FrameWords frame = {0, 0};
  DWORD reply[2] = {0, 0}, returned = 0;
  ASSERT_TRUE(control(h, kReadFrame, &frame, sizeof frame, reply, sizeof reply, &returned));
  EXPECT_EQ(18u, reply[0]);
  const DWORD query[3] = {2, 5, 0};
  DWORD driver[6] = {};
  ASSERT_TRUE(control(h, kDriverInfo, query, sizeof query, driver, sizeof driver, &returned));
  EXPECT_EQ(18u, driver[0]);
  ASSERT_EQ(1, VCamSetGone(0, 0));
  EXPECT_EQ(0u, infoStatus(h));
}

TEST_F(VirtualCamera, UnpluggedWhileOpenTheOldHandleSeesItGone) {
  plug(0, usbCamera(1));
  HANDLE old = open("\\\\.\\QRVIDDEV0");
  ASSERT_NE(INVALID_HANDLE_VALUE, old);
  ASSERT_EQ(1, VCamUnplug(0));
  EXPECT_EQ(18u, infoStatus(old));
  plug(0, usbCamera(2));  // a new camera in the same place can be opened at once
  HANDLE fresh = open("\\\\.\\QRVIDDEV0");
  ASSERT_NE(INVALID_HANDLE_VALUE, fresh);
  EXPECT_EQ(0u, infoStatus(fresh));
  EXPECT_EQ(18u, infoStatus(old));
}

// A frame request for at most `length` bytes into `buffer`; the reply's status and full length.
struct FrameAnswer {
  DWORD status, length;
};
FrameAnswer requestFrame(HANDLE h, BYTE* buffer, DWORD length) {
  FrameWords request = {length, reinterpret_cast<UINT_PTR>(buffer)};
  DWORD reply[2] = {99, 99}, returned = 0;
  EXPECT_TRUE(device().ioControl(h, kReadFrame, &request, sizeof request, reply, sizeof reply, &returned, nullptr));
  EXPECT_EQ(8u, returned);
  return {reply[0], reply[1]};
}

class VirtualCameraFrames : public VirtualCamera {
 protected:
  void SetUp() override {
    VirtualCamera::SetUp();
    plug(0, usbCamera(1));
    h_ = open("\\\\.\\QRVIDDEV0");
    ASSERT_NE(INVALID_HANDLE_VALUE, h_);
    // A camera programmed for 160 x 120 with a flat quantisation table and neutral processing.
    for (BYTE& b : tone_) b = static_cast<BYTE>(&b - tone_);
    for (int i = 0; i < 128; ++i) quant_[i] = 8;
    writeRegister(h_, 13, 0, tone_, sizeof tone_);
    writeRegister(h_, 25, 0, quant_, sizeof quant_);
    const DWORD settings[][2] = {{27, 160}, {28, 120}, {5, 64}, {37, 256}, {4, 125}, {26, 125}, {35, 125}};
    for (const auto& rv : settings) writeRegister(h_, rv[0], rv[1]);
  }
  qrvcam::SceneRegisters registers() {
    vcam::RegisterFile file{};
    for (int reg = 0; reg < vcam::RegisterFile::kRegisterCount; ++reg) {
      DWORD value = 0;
      EXPECT_EQ(1, VCamReadRegister(0, reg, &value));
      file.values[reg] = value;
    }
    std::memcpy(file.toneTable, tone_, sizeof tone_);
    std::memcpy(file.quantTable, quant_, sizeof quant_);
    return vcam::sceneRegisters(file);
  }
  HANDLE h_ = nullptr;
  BYTE tone_[256];
  WORD quant_[128];
};

TEST_F(VirtualCameraFrames, RawAndCompressedFramesAreTheSceneAtTheCaptureSize) {
  for (DWORD kind : {0u, 0x10u}) {
    SCOPED_TRACE(kind);
    writeRegister(h_, 10, kind);
    const qrvcam::SceneRegisters regs = registers();
    VCamDeviceStatus status;
    ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
    const DWORD frameNumber = status.framesDelivered;
    const size_t length = qrvcam::renderFrame(regs, frameNumber, nullptr, 0, nullptr);
    ASSERT_GT(length, 0u);
    std::vector<BYTE> want(length);
    qrvcam::renderFrame(regs, frameNumber, want.data(), want.size(), nullptr);
    if (kind == 0)
      EXPECT_EQ(160u * 120 * 2, length);
    else
      EXPECT_TRUE(want[0] == 0xFF && want[1] == 0xD8);

    std::vector<BYTE> got(160 * 120 * 2 + 64, 0x5A);
    const FrameAnswer answer = requestFrame(h_, got.data(), 160 * 120 * 2);
    EXPECT_EQ(0u, answer.status);
    EXPECT_EQ(length, answer.length);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
    for (size_t i = 160 * 120 * 2; i < got.size(); ++i) ASSERT_EQ(0x5A, got[i]) << i;
  }
}

TEST_F(VirtualCameraFrames, AShortRequestStoresOnlyItsLengthAndReportsTheWholeFrame) {
  writeRegister(h_, 10, 0x10);
  std::vector<BYTE> buffer(4096, 0x5A);
  const FrameAnswer answer = requestFrame(h_, buffer.data(), 100);
  EXPECT_GT(answer.length, 100u);
  EXPECT_EQ(0xFF, buffer[0]);
  EXPECT_EQ(0xD8, buffer[1]);
  for (size_t i = 100; i < buffer.size(); ++i) ASSERT_EQ(0x5A, buffer[i]) << i;
  writeRegister(h_, 10, 0);
  EXPECT_EQ(160u * 120 * 2, requestFrame(h_, nullptr, 0).length) << "nothing stored, the length still told";
}

TEST_F(VirtualCameraFrames, AutomaticControlsWriteTheirRegistersBackBeforeTheNextFrame) {
  struct Case {
    DWORD exposureMode, whiteBalance, gain;
  };
  for (const Case& c : {Case{1, 1, 0}, Case{0, 1, 64}, Case{1, 0, 255}, Case{0, 0, 64}}) {
    SCOPED_TRACE(testing::Message() << "exposure " << c.exposureMode << " white balance " << c.whiteBalance);
    writeRegister(h_, 1, c.exposureMode);
    writeRegister(h_, 2, c.whiteBalance);
    writeRegister(h_, 5, c.gain);
    writeRegister(h_, 26, 125);
    writeRegister(h_, 4, 125);
    const qrvcam::SceneRegisters before = registers();
    VCamDeviceStatus status;
    ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
    qrvcam::SceneFeedback moved;
    std::vector<BYTE> picture(160 * 120 * 2);
    ASSERT_TRUE(qrvcam::renderPicture(before, status.framesDelivered, picture.data(), &moved));
    EXPECT_EQ(c.exposureMode != 0 || c.whiteBalance != 0, moved.count > 0);
    requestFrame(h_, picture.data(), static_cast<DWORD>(picture.size()));
    qrvcam::SceneRegisters expected = before;
    for (int i = 0; i < moved.count; ++i) expected.reg[moved.moved[i].reg] = moved.moved[i].value;
    const qrvcam::SceneRegisters after = registers();
    for (int reg : {4, 5, 26, 37}) EXPECT_EQ(expected.reg[reg], after.reg[reg]) << "register " << reg;
  }
}

std::string tempFile(const char* name, const std::string& bytes) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + "qrvcam-test-" + name;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return path;
}

TEST_F(VirtualCameraFrames, ReplayedFilesAreTheNextFramesInOrderThenTheSceneAgain) {
  writeRegister(h_, 10, 0);
  const std::string first = tempFile("first.bin", "not a picture at all");
  const std::string empty = tempFile("empty.bin", "");
  const std::string missing = tempFile("missing.bin", "x");
  DeleteFileA(missing.c_str());
  const std::string big = tempFile("big.bin", std::string(50000, 'b'));
  EXPECT_EQ(1, VCamQueueReplay(0, first.c_str()));
  EXPECT_EQ(2, VCamQueueReplay(0, empty.c_str()));
  EXPECT_EQ(3, VCamQueueReplay(0, missing.c_str()));
  EXPECT_EQ(0, qrtest::runChild("qrvcamctl.exe", "replay 0 \"" + big + "\""));  // another process queues the 4th

  std::vector<BYTE> buffer(160 * 120 * 2 + 16, 0x5A);
  FrameAnswer answer = requestFrame(h_, buffer.data(), 160 * 120 * 2);
  EXPECT_EQ(20u, answer.length);
  EXPECT_EQ(0, std::memcmp(buffer.data(), "not a picture at all", 20));
  EXPECT_EQ(0u, requestFrame(h_, buffer.data(), 160 * 120 * 2).length);
  EXPECT_EQ(0u, requestFrame(h_, buffer.data(), 160 * 120 * 2).length) << "a file that is gone: an empty frame";
  answer = requestFrame(h_, buffer.data(), 160 * 120 * 2);
  EXPECT_EQ(50000u, answer.length) << "reported whole";
  EXPECT_EQ('b', buffer[160 * 120 * 2 - 1]);
  EXPECT_EQ(0x5A, buffer[160 * 120 * 2]) << "stored no further than asked";
  EXPECT_EQ(160u * 120 * 2, requestFrame(h_, buffer.data(), 160 * 120 * 2).length) << "the scene again";

  for (int i = 1; i <= VCAM_REPLAY_CAPACITY; ++i) EXPECT_EQ(i, VCamQueueReplay(0, first.c_str()));
  EXPECT_EQ(0, VCamQueueReplay(0, first.c_str())) << "queue full";
  EXPECT_EQ(1, VCamClearReplay(0));
  EXPECT_EQ(160u * 120 * 2, requestFrame(h_, buffer.data(), 160 * 120 * 2).length);
  EXPECT_EQ(0, VCamQueueReplay(3, first.c_str())) << "no camera there";
  EXPECT_EQ(0, VCamQueueReplay(0, nullptr));
  EXPECT_EQ(0, VCamQueueReplay(0, ""));
  for (const std::string& path : {first, empty, big}) DeleteFileA(path.c_str());
}

TEST_F(VirtualCameraFrames, PacingSpacesFramesWhenAsked) {
  std::vector<BYTE> buffer(160 * 120 * 2);
  ASSERT_EQ(1, VCamSetPacing(100));
  requestFrame(h_, buffer.data(), static_cast<DWORD>(buffer.size()));
  const DWORD start = GetTickCount();
  for (int i = 0; i < 3; ++i) requestFrame(h_, buffer.data(), static_cast<DWORD>(buffer.size()));
  // Three frames at least 100 ms apart; a little below 300 for the tick counter's granularity.
  EXPECT_GE(GetTickCount() - start, 270u);
  VCamDeviceStatus status;
  ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
  EXPECT_EQ(4u, status.framesDelivered);
}

TEST_F(VirtualCamera, MalformedRequestsFailWithoutActing) {
  plug(0, usbCamera(1));
  HANDLE h = open("\\\\.\\QRVIDDEV0");
  DWORD out[104] = {}, returned = 7;
  const DWORD zero = 0;
  // Unknown code, short input, short output.
  EXPECT_FALSE(control(h, 0x222010, &zero, 4, out, sizeof out, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
  EXPECT_EQ(0u, returned);
  const DWORD shortRequest[5] = {0, 0x60, 77, 5, 0};
  EXPECT_FALSE(control(h, kVendor, shortRequest, sizeof shortRequest, out, 4, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(control(h, kGetInfo, &zero, 4, out, 415, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_FALSE(control(h, kGetInfo, &zero, 4, nullptr, 416, &returned));
  const VendorWords fullWrite = {0, 0x60, 77, 5, 0, 0};
  EXPECT_FALSE(control(h, kVendor, &fullWrite, sizeof fullWrite, out, 3, &returned));
  EXPECT_EQ(0u, qrtest::cameraRegister(0, 5));  // refused before it acted
  // Data stages and frame buffers at bad addresses.
  const VendorWords badTable = {0, 0x60, 0, 13, 256, 0x10};
  EXPECT_FALSE(control(h, kVendor, &badTable, sizeof badTable, out, 4, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOACCESS), GetLastError());
  const VendorWords badRead = {1, 0x61, 0, 26, 2, 0};
  EXPECT_FALSE(control(h, kVendor, &badRead, sizeof badRead, out, 4, &returned));
  const FrameWords badFrame = {1000, 0x10};
  EXPECT_FALSE(control(h, kReadFrame, &badFrame, sizeof badFrame, out, 8, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOACCESS), GetLastError());
  // An out-of-range register number is taken and ignored.
  EXPECT_EQ(0u, writeRegister(h, 1000, 1));
  EXPECT_EQ(0u, readRegister(h, 1000, 0));
}

TEST_F(VirtualCamera, InterfaceClassListsPublishedCamerasAndTheirPathsOpen) {
  plug(2, usbCamera(1, "", VCAM_PUBLISH_INTERFACE));
  plug(4, usbCamera(2, "", VCAM_PUBLISH_FIXED_PATH));
  plug(7, usbCamera(3, "", VCAM_PUBLISH_FIXED_PATH | VCAM_PUBLISH_INTERFACE));
  HDEVINFO list = device().getClassDevs(&kCameraClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(INVALID_HANDLE_VALUE, list);
  std::vector<std::string> paths;
  for (DWORD member = 0;; ++member) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!device().enumInterfaces(list, nullptr, &kCameraClass, member, &data)) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
      break;
    }
    DWORD required = 0;
    EXPECT_FALSE(device().interfaceDetail(list, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = 0;
    EXPECT_FALSE(device().interfaceDetail(list, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), GetLastError());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    ASSERT_TRUE(device().interfaceDetail(list, &data, detail, required, nullptr, nullptr));
    paths.push_back(detail->DevicePath);
  }
  EXPECT_TRUE(device().destroyList(list));
  ASSERT_EQ(2u, paths.size());
  for (const std::string& path : paths) {
    HANDLE h = open(path.c_str());
    EXPECT_NE(INVALID_HANDLE_VALUE, h) << path;
  }
  // Only published as an interface: the fixed path does not reach it.
  EXPECT_EQ(INVALID_HANDLE_VALUE, open("\\\\.\\QRVIDDEV2"));
  VCamStats stats;
  ASSERT_EQ(1, VCamGetStats(&stats));
  EXPECT_EQ(1u, stats.classEnumerations);
  // A path of an earlier plug no longer opens.
  const std::string old = paths[0];
  for (HANDLE h : handles_) device().close(h);
  handles_.clear();
  plug(2, usbCamera(1, "", VCAM_PUBLISH_INTERFACE));
  EXPECT_EQ(INVALID_HANDLE_VALUE, open(old.c_str()));
}

TEST_F(VirtualCamera, LogKeepsTheLatestRequestsInOrder) {
  plug(1, usbCamera(1));
  HANDLE h = open("\\\\.\\QRVIDDEV1");
  const int total = VCAM_LOG_CAPACITY + 10;
  for (int i = 0; i < total; ++i) writeRegister(h, 5, i);
  EXPECT_EQ(total, VCamGetLogCount());
  std::vector<VCamLogEntry> entries(VCAM_LOG_CAPACITY + 5);
  // The first ten have been overwritten: reading from 0 yields the kept ones.
  ASSERT_EQ(VCAM_LOG_CAPACITY, VCamReadLog(0, entries.data(), static_cast<LONG>(entries.size())));
  EXPECT_EQ(10u, entries[0].value);
  EXPECT_EQ(static_cast<DWORD>(total - 1), entries[VCAM_LOG_CAPACITY - 1].value);
  EXPECT_EQ(1u, entries[0].device);
  EXPECT_EQ(kVendor, entries[0].code);
  EXPECT_EQ(5u, entries[0].index);
  ASSERT_EQ(1, VCamReadLog(total - 1, entries.data(), 5));
  EXPECT_EQ(0, VCamReadLog(total, entries.data(), 5));
  EXPECT_EQ(0, VCamReadLog(0, nullptr, 5));
  ASSERT_EQ(1, VCamClearLog());
  EXPECT_EQ(0, VCamGetLogCount());
}

TEST_F(VirtualCamera, ControlCallsRefuseBadArguments) {
  VCamDevice camera = usbCamera(1);
  EXPECT_EQ(0, VCamPlug(16, &camera));
  EXPECT_EQ(0, VCamPlug(-1, &camera));
  EXPECT_EQ(0, VCamPlug(0, nullptr));
  camera.busType = 3;
  EXPECT_EQ(0, VCamPlug(0, &camera));
  EXPECT_EQ(0, VCamUnplug(0));  // nothing there
  EXPECT_EQ(0, VCamSetGone(0, 1));
  EXPECT_EQ(0, VCamSetButton(0, 1));
  DWORD value = 0;
  EXPECT_EQ(0, VCamReadRegister(0, 5, &value));
  plug(0, usbCamera(1));
  EXPECT_EQ(0, VCamReadRegister(0, 64, &value));
  EXPECT_EQ(0, VCamReadRegister(0, 5, nullptr));
  EXPECT_EQ(0, VCamReadToneTable(0, nullptr));
  EXPECT_EQ(0, VCamGetDeviceStatus(0, nullptr));
  EXPECT_EQ(0, VCamSetPacing(-1));
}

TEST_F(VirtualCamera, ControlProgramDrivesTheSameCameras) {
  using qrtest::runChild;
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "plug 5 parallel id=0x0201 serial=ABC port=1 address=0x378 mode=3 both"));
  VCamDeviceStatus status;
  ASSERT_EQ(1, VCamGetDeviceStatus(5, &status));
  ASSERT_EQ(1u, status.present);
  EXPECT_EQ(1u, status.device.busType);
  EXPECT_EQ(0x201u, status.device.deviceId);
  EXPECT_STREQ("ABC", status.device.serial);
  EXPECT_EQ(0x378u, status.device.portAddress);
  EXPECT_EQ(3u, status.device.portMode);
  EXPECT_EQ(static_cast<DWORD>(VCAM_PUBLISH_FIXED_PATH | VCAM_PUBLISH_INTERFACE), status.device.publish);
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "button 5 1"));
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "gone 5 1"));
  ASSERT_EQ(1, VCamGetDeviceStatus(5, &status));
  EXPECT_EQ(1u, status.button);
  EXPECT_EQ(1u, status.gone);
  EXPECT_EQ(1, runChild("qrvcamctl.exe", "regs 6"));
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "unplug 5"));
  ASSERT_EQ(1, VCamGetDeviceStatus(5, &status));
  EXPECT_EQ(0u, status.present);
  EXPECT_EQ(1, runChild("qrvcamctl.exe", "unplug 5"));
  EXPECT_EQ(2, runChild("qrvcamctl.exe", "plug 1 firewire"));
  EXPECT_EQ(2, runChild("qrvcamctl.exe", "explode"));
  EXPECT_EQ(1, runChild("qrvcamctl.exe", "plug 16"));
}

// What the control program shows: one line per camera, the registers that are not 0, the log of
// requests.
TEST_F(VirtualCamera, ControlProgramShowsCamerasRegistersAndTheLog) {
  using qrtest::runChild;
  plug(0, usbCamera(0x0403, "SN-1"));
  VCamDevice parallel = qrtest::parallelCamera(0x0201, 1, 0x378, 3);
  std::strcpy(parallel.serial, "ABC");
  parallel.publish = VCAM_PUBLISH_FIXED_PATH | VCAM_PUBLISH_INTERFACE;
  plug(5, parallel);
  HANDLE h = open("\\\\.\\QRVIDDEV5");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  ASSERT_EQ(1, VCamClearLog());
  writeRegister(h, 27, 160);
  writeRegister(h, 36, 99);
  ASSERT_EQ(1, VCamSetButton(5, 1));
  ASSERT_EQ(1, VCamSetGone(5, 1));
  writeRegister(h, 28, 120);  // answered "gone", and not taken

  std::string out;
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "list", out));
  EXPECT_EQ(
      " 0 usb      id=0x0403 serial=\"SN-1\" frames=0\n"
      " 5 parallel id=0x0201 serial=\"ABC\" open gone button interface frames=0\n",
      out);
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "regs 5", out));
  EXPECT_EQ(
      "register 27 = 160 (0xA0)\n"
      "register 36 = 99 (0x63)\n"
      "register 42 = 2 (0x2)\n",  // the button's level
      out);
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "log", out));
  EXPECT_EQ(
      "    0 dev 5 vendor      dir 0 req 0x60 value 160 index 27 length 0 status 0\n"
      "    1 dev 5 vendor      dir 0 req 0x60 value 99 index 36 length 0 status 0\n"
      "    2 dev 5 vendor      dir 0 req 0x60 value 120 index 28 length 0 status 18\n",
      out);
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "log clear", out));
  EXPECT_EQ(0, VCamGetLogCount());
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "log", out));
  EXPECT_EQ("", out);
}

// A camera programmed for raw 64 x 48 frames with neutral processing: identity tone table, no
// automatic controls, and the gain and balances under which a flat field shows its own colour.
class NeutralCamera : public VirtualCamera {
 protected:
  void SetUp() override {
    VirtualCamera::SetUp();
    plug(0, usbCamera(1));
    h_ = open("\\\\.\\QRVIDDEV0");
    ASSERT_NE(INVALID_HANDLE_VALUE, h_);
    BYTE tone[256];
    for (int i = 0; i < 256; ++i) tone[i] = static_cast<BYTE>(i);
    writeRegister(h_, 13, 0, tone, sizeof tone);
    const DWORD settings[][2] = {{27, 64},
                                 {28, 48},
                                 {10, 0},
                                 {1, 0},
                                 {2, 0},
                                 {5, 64},
                                 {37, 256},
                                 {35, 125},
                                 {26, qrvcam::kNeutralRedBalance},
                                 {4, qrvcam::kNeutralBlueBalance}};
    for (const auto& rv : settings) writeRegister(h_, rv[0], rv[1]);
  }
  std::vector<BYTE> frame() {
    std::vector<BYTE> picture(64 * 48 * 2);
    EXPECT_EQ(picture.size(), requestFrame(h_, picture.data(), static_cast<DWORD>(picture.size())).length);
    return picture;
  }
  HANDLE h_ = nullptr;
};

// Every pixel pair alike.
bool flat(const std::vector<BYTE>& frame) {
  for (size_t i = 4; i < frame.size(); ++i)
    if (frame[i] != frame[i % 4]) return false;
  return true;
}

TEST_F(NeutralCamera, ControlProgramChoosesTheSceneEveryCameraShows) {
  using qrtest::runChild;
  EXPECT_EQ(VCAM_SCENE_TEST_PATTERN, VCamGetScene());
  EXPECT_FALSE(flat(frame()));

  EXPECT_EQ(0, runChild("qrvcamctl.exe", "scene 4"));
  EXPECT_EQ(VCAM_SCENE_FLAT_RED, VCamGetScene());
  const std::vector<BYTE> red = frame();
  EXPECT_TRUE(flat(red));
  EXPECT_GT(red[3], 128 + 40) << "Cr: red";
  EXPECT_LT(red[1], 128) << "Cb: little blue";

  std::string out;
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "scene", out));
  EXPECT_NE(std::string::npos, out.find("\n* 4 flat red (180, 40, 40)\n")) << out;
  EXPECT_NE(std::string::npos, out.find("  1 landscape")) << out;
  EXPECT_EQ(1, runChild("qrvcamctl.exe", "scene 8")) << "no such scene";
  EXPECT_EQ(VCAM_SCENE_FLAT_RED, VCamGetScene());
  EXPECT_EQ(0, runChild("qrvcamctl.exe", "reset"));
  EXPECT_EQ(VCAM_SCENE_TEST_PATTERN, VCamGetScene());
}

// Frames come at least the pacing apart; none is waited for without it (the lower bound only:
// a slow machine may take longer, never shorter).
TEST_F(VirtualCamera, ControlProgramSetsTheFramePacing) {
  plug(0, usbCamera(1));
  HANDLE h = open("\\\\.\\QRVIDDEV0");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  writeRegister(h, 27, 16);
  writeRegister(h, 28, 8);
  EXPECT_EQ(0, qrtest::runChild("qrvcamctl.exe", "pacing 60"));
  BYTE frame[16 * 8 * 2];
  const DWORD start = GetTickCount();
  for (int i = 0; i < 4; ++i) requestFrame(h, frame, sizeof frame);
  EXPECT_GE(GetTickCount() - start, 3u * 60 - 20) << "three gaps of at least 60 ms";
  EXPECT_EQ(2, qrtest::runChild("qrvcamctl.exe", "pacing"));
  EXPECT_EQ(1, qrtest::runChild("qrvcamctl.exe", "pacing 10001"));
  EXPECT_EQ(0, qrtest::runChild("qrvcamctl.exe", "pacing 0"));
}

}  // namespace

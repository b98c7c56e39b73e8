#include "driver_fixture.h"

#include <algorithm>

#include "profile_store.h"
#include "qrcamlib.h"
#include "registry_sandbox.h"

namespace avitest {

namespace {

const char kDrivers32[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
constexpr std::size_t kGuardBytes = 256;
constexpr BYTE kGuard = 0xA5;

void forgetCameras() {
  CameraListInfo list;
  QRGetCamList(&list);
}

}  // namespace

CallbackLog::CallbackLog() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
CallbackLog::~CallbackLog() { CloseHandle(event_); }

void CALLBACK CallbackLog::record(HDRVR handle, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR) {
  CallbackLog& log = *reinterpret_cast<CallbackLog*>(user);
  {
    compat::Locked hold(log.lock_);
    log.calls_.push_back({message, param1, reinterpret_cast<DWORD_PTR>(handle)});
  }
  if (message == MM_DRVM_DATA && log.hook_) log.hook_(log.hookContext_, reinterpret_cast<VIDEOHDR*>(param1));
  SetEvent(log.event_);
}

void CallbackLog::clear() {
  compat::Locked hold(lock_);
  calls_.clear();
  hook_ = nullptr;
  hookContext_ = nullptr;
}

std::vector<Callback> CallbackLog::calls() {
  compat::Locked hold(lock_);
  return calls_;
}

std::vector<Callback> CallbackLog::calls(UINT message) {
  std::vector<Callback> all = calls(), some;
  for (const Callback& c : all) {
    if (c.message == message) some.push_back(c);
  }
  return some;
}

bool CallbackLog::waitFor(UINT message, std::size_t count, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (calls(message).size() < count) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeoutMs) return false;
    WaitForSingleObject(event_, timeoutMs - spent);
  }
  return true;
}

Buffers::Buffers(std::size_t count, DWORD length) : data_(count), headers_(count) {
  for (std::size_t i = 0; i < count; ++i) {
    data_[i].assign(length + kGuardBytes, 0);
    std::fill(data_[i].begin() + length, data_[i].end(), kGuard);
    VIDEOHDR& h = headers_[i];
    h = VIDEOHDR{};
    h.lpData = data_[i].data();
    h.dwBufferLength = length;
    h.dwUser = i;
    h.dwFlags = VHDR_PREPARED;
  }
}

std::size_t Buffers::damagedGuardBytes(std::size_t i) const {
  const std::vector<BYTE>& d = data_[i];
  return static_cast<std::size_t>(
      std::count_if(d.begin() + headers_[i].dwBufferLength, d.end(), [](BYTE b) { return b != kGuard; }));
}

void CaptureDriver::SetUp() {
  VirtualCameraTest::SetUp();
  QRReleaseLib();
  forgetCameras();
  DWORD type = 0;
  std::string value;
  ASSERT_TRUE(qrtest::readRawValue(kDrivers32, "msvideo", type, value))
      << "the driver is not registered in this prefix: run scripts/avi-register (scripts/wine-prefix does)";
  ASSERT_STREQ("quorelavi.dll", value.c_str());
}

void CaptureDriver::TearDown() {
  for (HDRVR driver : opened_) {
    send(driver, avi::kDvmStreamReset);
    send(driver, avi::kDvmStreamFini);
    CloseDriver(driver, 0, 0);
  }
  opened_.clear();
  QRReleaseLib();
  VirtualCameraTest::TearDown();
  forgetCameras();
}

HDRVR CaptureDriver::open(DWORD channel, DWORD fccType) {
  openParms_ = avi::VideoOpenParms{};
  openParms_.dwSize = sizeof openParms_;
  openParms_.fccType = fccType;
  openParms_.dwVersion = 0x00030000;
  openParms_.dwFlags = channel;
  openParms_.dwError = 0xDEAD;
  HDRVR driver = OpenDriver(L"msvideo", L"Drivers32", reinterpret_cast<LPARAM>(&openParms_));
  if (driver) opened_.push_back(driver);
  return driver;
}

HDRVR CaptureDriver::openWithCamera(DWORD channel) {
  VCamDeviceStatus status{};
  if (!VCamGetDeviceStatus(0, &status) || !status.present) qrtest::plug(0, qrtest::usbCamera(0x0403, "SN-AVI"));
  HDRVR driver = open(channel);
  EXPECT_NE(nullptr, driver) << "dwError " << lastError();
  return driver;
}

void CaptureDriver::close(HDRVR driver) {
  opened_.erase(std::remove(opened_.begin(), opened_.end(), driver), opened_.end());
  CloseDriver(driver, 0, 0);
}

DRIVERPROC CaptureDriver::driverProc(HDRVR driver) {
  HMODULE module = GetDriverModuleHandle(driver);
  return reinterpret_cast<DRIVERPROC>(reinterpret_cast<void*>(GetProcAddress(module, "DriverProc")));
}

void CaptureDriver::storeProfile(std::initializer_list<std::pair<const char*, LONG>> values) {
  profiles::ProfileSettings settings(profiles::kCaptureDriverLayout);
  for (const auto& value : values) {
    ASSERT_TRUE(settings.has(value.first)) << value.first;
    settings[settings.find(value.first)] = value.second;
  }
  ASSERT_TRUE(profiles::writeCurrentProfile("AVI", 0));
  ASSERT_TRUE(profiles::saveProfile(settings));
}

LRESULT CaptureDriver::setFormat(HDRVR video, LONG width, LONG height, DWORD compression, WORD bitCount, WORD planes) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = planes;
  header.biBitCount = bitCount;
  header.biCompression = compression;
  DWORD answer = 0;
  avi::VideoConfigParms parms{&answer, &header, sizeof header, nullptr, 0};
  return send(video, DVM_FORMAT, VIDEO_CONFIGURE_SET, reinterpret_cast<LPARAM>(&parms));
}

BITMAPINFOHEADER CaptureDriver::getFormat(HDRVR video) {
  BITMAPINFOHEADER header{};
  DWORD answer = 0;
  avi::VideoConfigParms parms{&answer, &header, sizeof header, nullptr, 0};
  EXPECT_EQ(0, send(video, DVM_FORMAT, VIDEO_CONFIGURE_GET, reinterpret_cast<LPARAM>(&parms)));
  return header;
}

LRESULT CaptureDriver::initStream(HDRVR video, DWORD microSecPerFrame, bool withCallback) {
  avi::VideoStreamInitParms parms{};
  parms.dwMicroSecPerFrame = microSecPerFrame;
  parms.dwCallback = withCallback ? reinterpret_cast<DWORD_PTR>(&CallbackLog::record) : 0;
  parms.dwCallbackInst = reinterpret_cast<DWORD_PTR>(&callbacks_);
  parms.dwFlags = CALLBACK_FUNCTION;
  parms.hVideo = kVideoHandle;
  return send(video, avi::kDvmStreamInit, reinterpret_cast<LPARAM>(&parms), sizeof parms);
}

}  // namespace avitest

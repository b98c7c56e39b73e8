// DriverProc's installable-driver messages, the channel opens and closes with their counts and
// codes, the camera's start-up, the version box and the channel messages of the dispatch table.
#include <windows.h>

#include <string>

#include "driver_fixture.h"
#include "modal_answerer.h"
#include "qrcamlib.h"
#include "quorelreg.h"

namespace {

using avitest::CaptureDriver;
using namespace avi;

bool cameraHeld() {
  VCamDeviceStatus status{};
  return VCamGetDeviceStatus(0, &status) && status.open;
}

std::string storedText(const char* subKey, const char* name) {
  std::string key = std::string(qrtest::kProductKey) + "\\AVI";
  if (subKey) key += std::string("\\") + subKey;
  DWORD type = 0;
  std::string data;
  if (!qrtest::readRawValue(key, name, type, data)) return "(missing)";
  while (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

TEST_F(CaptureDriver, DrvOpenWithoutParametersIsAConfigurationOpenAndAWrongTypeIsRefused) {
  HDRVR configuration = OpenDriver(L"msvideo", L"Drivers32", 0);
  ASSERT_NE(nullptr, configuration);
  DRIVERPROC proc = driverProc(configuration);
  ASSERT_NE(nullptr, proc);
  EXPECT_EQ(1, proc(0, configuration, DRV_OPEN, 0, 0));
  EXPECT_EQ(1, proc(1, configuration, DRV_CLOSE, 0, 0));
  EXPECT_EQ(nullptr, open(kVideoIn, mmioFOURCC('v', 'i', 'd', 'c')));
  EXPECT_FALSE(cameraHeld());
  // The installable-driver messages answer 1.
  for (UINT message : {DRV_LOAD, DRV_ENABLE, DRV_DISABLE, DRV_FREE, DRV_QUERYCONFIGURE, DRV_INSTALL, DRV_REMOVE}) {
    EXPECT_EQ(1, proc(0, configuration, message, 0, 0)) << "message " << message;
  }
  CloseDriver(configuration, 0, 0);
}

TEST_F(CaptureDriver, EachChannelOpensOnceAndOtherChannelsAreRefusedWith19) {
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  EXPECT_EQ(0u, lastError());
  EXPECT_EQ(nullptr, open(kVideoIn));
  EXPECT_EQ(static_cast<DWORD>(DV_ERR_ALLOCATED), lastError());
  for (DWORD channel : {kVideoExternalOut, kVideoOut, DWORD{0}}) {
    EXPECT_EQ(nullptr, open(channel)) << "channel " << channel;
    EXPECT_EQ(static_cast<DWORD>(DV_ERR_ALLOCATED), lastError()) << "channel " << channel;
  }
  HDRVR external = open(kVideoExternalIn);
  ASSERT_NE(nullptr, external);
  EXPECT_EQ(nullptr, open(kVideoExternalIn));
  EXPECT_EQ(static_cast<DWORD>(DV_ERR_ALLOCATED), lastError());
  // The answers to DRV_OPEN, seen by the driver's own DriverProc: the two channel identifiers.
  DRIVERPROC proc = driverProc(video);
  VideoOpenParms parms{sizeof parms, kFccVcap, 0, 0, kVideoIn, 0, nullptr, nullptr, 0};
  close(video);
  EXPECT_EQ(static_cast<LRESULT>(kVideoInId), proc(0, nullptr, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&parms)));
  EXPECT_EQ(1, proc(kVideoInId, nullptr, DRV_CLOSE, 0, 0));
  close(external);
}

TEST_F(CaptureDriver, TwoChannelsStartTheCameraOnceAndOnlyTheLastCloseReleasesIt) {
  HDRVR external = openWithCamera(kVideoExternalIn);
  ASSERT_NE(nullptr, external);
  EXPECT_TRUE(cameraHeld());
  EXPECT_EQ(1, QRGetPowerEn());
  VCamClearLog();
  HDRVR video = open(kVideoIn);
  ASSERT_NE(nullptr, video);
  EXPECT_EQ(0u, qrtest::vendorRequests().size()) << "the second channel's open sent requests to the camera";
  close(external);
  EXPECT_TRUE(cameraHeld());
  EXPECT_EQ(1, QRGetPowerEn());
  close(video);
  EXPECT_FALSE(cameraHeld());
  EXPECT_EQ("USB", storedText(nullptr, "Camera Type"));
}

TEST_F(CaptureDriver, AParallelPortCameraIsRecordedAsLpt) {
  qrtest::plug(0, qrtest::parallelCamera(0x0403, 1, 0x378, 3));
  HDRVR video = open(kVideoIn);
  ASSERT_NE(nullptr, video) << "dwError " << lastError();
  EXPECT_EQ("LPT", storedText(nullptr, "Camera Type"));
}

TEST_F(CaptureDriver, AnOpenWithoutACameraFailsWith7AndTheNextOpenTriesAgain) {
  // A configuration open keeps the driver loaded, so its state lives on between the two opens.
  HDRVR configuration = OpenDriver(L"msvideo", L"Drivers32", 0);
  ASSERT_NE(nullptr, configuration);
  EXPECT_EQ(nullptr, open(kVideoIn));
  EXPECT_EQ(static_cast<DWORD>(DV_ERR_NOTDETECTED), lastError());
  qrtest::plug(0, qrtest::usbCamera(0x0403, "SN-LATE"));
  HDRVR video = open(kVideoIn);
  EXPECT_NE(nullptr, video) << "dwError " << lastError();
  if (video) close(video);
  CloseDriver(configuration, 0, 0);
}

TEST_F(CaptureDriver, TheVideoChannelDoesNotCloseWhileStreaming) {
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  DRIVERPROC proc = driverProc(video);
  ASSERT_EQ(0, initStream(video, 66666));
  ASSERT_EQ(0, send(video, kDvmStreamStart));
  EXPECT_EQ(0, proc(kVideoInId, video, DRV_CLOSE, 0, 0));
  EXPECT_TRUE(cameraHeld());
  ASSERT_EQ(0, send(video, kDvmStreamStop));
  avitest::Buffers buffers(1, 320 * 240 * 3);
  ASSERT_EQ(0, send(video, kDvmStreamAddBuffer, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
  EXPECT_EQ(0, proc(kVideoInId, video, DRV_CLOSE, 0, 0)) << "closed with a buffer queued";
  ASSERT_EQ(0, send(video, kDvmStreamReset));
  ASSERT_EQ(0, send(video, kDvmStreamFini));
  EXPECT_EQ(1, proc(kVideoInId, video, DRV_CLOSE, 0, 0));
  EXPECT_FALSE(cameraHeld());
}

TEST_F(CaptureDriver, DrvConfigureShowsTheVersionBox) {
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  WORD library[4] = {};
  QRGetLibVersion(library);
  char expected[160];
  wsprintfA(expected, "Digital Camera AVI Version 6.9.1.80, Lib Version %d.%d.%d.%d", library[0], library[1],
            library[2], library[3]);
  qrtest::ModalAnswerer answerer;
  answerer.plan(IDOK);
  EXPECT_EQ(1, send(video, DRV_CONFIGURE));
  ASSERT_EQ(1u, answerer.seen().size());
  EXPECT_EQ("Sentrio V2 DigiCam AVI Driver", answerer.seen()[0].caption);
  EXPECT_EQ(expected, answerer.seen()[0].text);
  EXPECT_EQ(0u, answerer.unexpected());
}

TEST_F(CaptureDriver, ChannelMessagesAnswerAsTheDispatchTableSays) {
  HDRVR video = openWithCamera(kVideoIn);
  HDRVR external = open(kVideoExternalIn);
  ASSERT_TRUE(video && external);
  DWORD version = 0;
  EXPECT_EQ(0, send(video, kDvmGetVideoApiVer, reinterpret_cast<LPARAM>(&version)));
  EXPECT_EQ(3u, version);
  EXPECT_EQ(DV_ERR_PARAM1, send(video, kDvmGetVideoApiVer, 0));
  char text[64];
  for (DWORD error = 0; error <= DV_ERR_LASTERROR; ++error) {
    VideoGetErrorTextParms parms{error, text, sizeof text};
    EXPECT_EQ(DV_ERR_PARAM1, send(video, kDvmGetErrorText, reinterpret_cast<LPARAM>(&parms))) << "error " << error;
  }
  EXPECT_EQ(DV_ERR_PARAM1, send(video, kDvmGetErrorText, 0));
  for (HDRVR channel : {video, external}) {
    CHANNEL_CAPS caps;
    caps.dwFlags = 0xFFFF;
    EXPECT_EQ(0, send(channel, kDvmGetChannelCaps, reinterpret_cast<LPARAM>(&caps)));
    EXPECT_EQ(0u, caps.dwFlags);
    EXPECT_EQ(DV_ERR_FLAGS, send(channel, kDvmConfigureStorage, 0, 0));
  }
  struct Case {
    HDRVR channel;
    UINT message;
  };
  const Case unsupported[] = {{video, DVM_SRC_RECT},
                              {video, DVM_DST_RECT},
                              {video, DVM_PALETTERGB555},
                              {video, kDvmUpdate},
                              {video, 0x4070},
                              {external, DVM_FORMAT},
                              {external, DVM_PALETTE},
                              {external, kDvmFrame},
                              {external, kDvmStreamStart},
                              {external, kDvmStreamAddBuffer}};
  for (const Case& c : unsupported) {
    EXPECT_EQ(DV_ERR_NOTSUPPORTED, send(c.channel, c.message)) << "message " << std::hex << c.message;
  }
  EXPECT_EQ(0, send(external, kDvmStreamInit));
  EXPECT_EQ(0, send(external, kDvmStreamFini));
}

TEST_F(CaptureDriver, AProfileOfAnotherRevisionIsRewrittenAndOneAt80KeepsItsValues) {
  qrtest::plug(0, qrtest::usbCamera(0x0403, "SN-REV"));
  // Revision 79: the whole profile is written again at 80.
  storeProfile({{"Video Gain", 90}, {"Stream Enable", 1}});
  ASSERT_TRUE(ExtRegSaveVal("AVI", "UserProfile1", "Revision", 79));
  HKEY key = nullptr;
  const std::string profile = std::string(qrtest::kProductKey) + "\\AVI\\UserProfile1";
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, profile.c_str(), 0, KEY_SET_VALUE, &key));
  RegDeleteValueA(key, "Stream Enable");
  RegCloseKey(key);
  HDRVR video = open(kVideoIn);
  ASSERT_NE(nullptr, video);
  EXPECT_EQ("80", storedText("UserProfile1", "Revision"));
  EXPECT_EQ("90", storedText("UserProfile1", "Video Gain"));
  EXPECT_EQ("1", storedText("UserProfile1", "Stream Enable"));
  EXPECT_EQ("3", storedText("UserProfile1", "ASC Enable"));
  close(video);

  // Revision 80 with "ASC Enable" 1: loaded as 3, not written back.
  storeProfile({{"ASC Enable", 1}, {"Video Gain", 91}});
  ASSERT_TRUE(ExtRegSaveVal("AVI", "UserProfile1", "ASC Enable", 1));
  video = open(kVideoIn);
  ASSERT_NE(nullptr, video);
  EXPECT_EQ(3, QRGetAGCMode());
  EXPECT_EQ("1", storedText("UserProfile1", "ASC Enable"));
  // A client's save stores what the driver holds.
  EXPECT_EQ(0, send(video, kDvmConfigureStorage, 0, kConfigureStorageSet));
  EXPECT_EQ("3", storedText("UserProfile1", "ASC Enable"));
  // A load while running keeps the format in use.
  ASSERT_EQ(0, setFormat(video, 640, 480, BI_RGB, 24));
  ASSERT_TRUE(ExtRegSaveVal("AVI", "UserProfile1", "Resolution", 2));
  EXPECT_EQ(0, send(video, kDvmConfigureStorage, 0, kConfigureStorageGet));
  EXPECT_EQ(640, getFormat(video).biWidth);
}

TEST_F(CaptureDriver, TheLastCloseSwitchesOutOfBandControlsOffOnlyWhenOn) {
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  close(video);
  EXPECT_EQ("(missing)", storedText(nullptr, "OOB Control Enabled"));
  ASSERT_TRUE(ExtRegSaveVal("AVI", nullptr, "OOB Control Enabled", 9));
  video = open(kVideoIn);
  HDRVR external = open(kVideoExternalIn);
  ASSERT_TRUE(video && external);
  close(video);
  EXPECT_EQ("9", storedText(nullptr, "OOB Control Enabled"));
  close(external);
  EXPECT_EQ("0", storedText(nullptr, "OOB Control Enabled"));
}

}  // namespace

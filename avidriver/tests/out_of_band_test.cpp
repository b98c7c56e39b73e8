// The out-of-band controls as another program uses them: values under "OOB Controls" and flags in
// "OOB Control Enabled" of the "AVI" key, taken, acknowledged and reported by the driver at its
// frames (single frames here; the stream runs the same per-frame step), and read once at start-up.
#include <windows.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "driver_fixture.h"
#include "import_hook.h"
#include "qrcamlib.h"
#include "quorelreg.h"
#include "registry_sandbox.h"

namespace {

using avitest::Buffers;
using avitest::CaptureDriver;
using namespace avi;

const char kAviKey[] = "Software\\Orvane Imaging\\AVI";
const char kValuesKey[] = "Software\\Orvane Imaging\\AVI\\OOB Controls";

// The other program writes DWORDs.
void setDword(const char* key, const char* name, DWORD value) {
  qrtest::writeRawValue(key, name, REG_DWORD, &value, sizeof value);
}
void setFlags(DWORD flags) { setDword(kAviKey, "OOB Control Enabled", flags); }
LONG flags() { return ExtRegGetVal("AVI", nullptr, "OOB Control Enabled"); }
LONG reported(const char* name) { return ExtRegGetVal("AVI", "OOB Controls", name); }
bool isReported(const char* name) {
  DWORD type = 0;
  std::string data;
  return qrtest::readRawValue(kValuesKey, name, type, data);
}

class OutOfBand : public CaptureDriver {
 protected:
  void SetUp() override {
    CaptureDriver::SetUp();
    storeProfile({{"ASC Enable", 0}, {"AWB Tracking", 0}});
    video_ = openWithCamera(kVideoIn);
    ASSERT_NE(nullptr, video_);
    ASSERT_EQ(0, setFormat(video_, 160, 120, BI_RGB, 24));
  }
  void frame() {
    Buffers buffers(1, 160 * 120 * 3);
    ASSERT_EQ(0, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
  }
  HDRVR video_ = nullptr;
};

TEST_F(OutOfBand, AnApplyTakesTheValuesWithTheShutterAtMost3900AndIsAcknowledged) {
  setDword(kValuesKey, "AGC Enable", 0);
  setDword(kValuesKey, "Shutter Value", 5000);
  setDword(kValuesKey, "Video Gain", 77);
  setFlags(3);
  ASSERT_NO_FATAL_FAILURE(frame());
  EXPECT_EQ(3900, QRGetShutter());
  EXPECT_EQ(400, QRGetScanFreq());
  EXPECT_EQ(77, QRGetGain());
  EXPECT_EQ(1, flags());
  // Taken into the profile: a client's save stores them.
  ASSERT_EQ(0, send(video_, kDvmConfigureStorage, 0, kConfigureStorageSet));
  EXPECT_EQ(3900, ExtRegGetVal("AVI", "UserProfile1", "Shutter Value"));
  EXPECT_EQ(400, ExtRegGetVal("AVI", "UserProfile1", "Frequency"));
}

// "Image Quality" 0, 1, 2 are the camera's 0, 128, 255 (others leave it), except that grey at the
// small sizes is always made at 255; the LED mode goes to the camera and into "LED Mode".
TEST_F(OutOfBand, AnApplyMapsTheQualityAndSendsTheLedMode) {
  struct Case {
    LONG width, height;
    DWORD compression;
    WORD bits;
    DWORD quality;
    LONG expected;
  };
  const Case cases[] = {{320, 240, BI_RGB, 24, 1, 128}, {320, 240, BI_RGB, 24, 0, 0},  {320, 240, BI_RGB, 24, 7, 0},
                        {320, 240, BI_RGB, 24, 2, 255}, {160, 120, BI_RGB, 8, 0, 255}, {320, 240, BI_RGB, 8, 1, 128}};
  for (const Case& c : cases) {
    ASSERT_EQ(0, setFormat(video_, c.width, c.height, c.compression, c.bits));
    Buffers buffers(1, getFormat(video_).biSizeImage);
    setDword(kValuesKey, "Image Quality", c.quality);
    setFlags(3);
    ASSERT_EQ(0, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
    EXPECT_EQ(c.expected, QRGetQuality()) << c.width << " bits " << c.bits << " quality " << c.quality;
  }
  ASSERT_EQ(0, setFormat(video_, 160, 120, BI_RGB, 24));
  setDword(kValuesKey, "LED Mode", 1);
  setFlags(3);
  ASSERT_NO_FATAL_FAILURE(frame());
  EXPECT_EQ(1, QRGetLEDEn());
  ASSERT_EQ(0, send(video_, kDvmConfigureStorage, 0, kConfigureStorageSet));
  EXPECT_EQ(1, ExtRegGetVal("AVI", "UserProfile1", "LED Mode"));
}

// The driver's calls of the two camera-library exports that leave no trace in the camera.
struct CameraCalls {
  static std::vector<LONG> digitalOutputs;
  static int whiteBalances;
  static LONG WINAPI setGpOut(LONG value) {
    digitalOutputs.push_back(value);
    return 1;
  }
  static LONG WINAPI whiteBalance() {
    ++whiteBalances;
    return 1;
  }
};
std::vector<LONG> CameraCalls::digitalOutputs;
int CameraCalls::whiteBalances = 0;

TEST_F(OutOfBand, ADigitalOutputBelow128IsSentAndAManualWhiteBalanceRunsOncePerApply) {
  HMODULE driver = GetModuleHandleA("quorelavi.dll");
  qrtest::ImportHook gpOut(driver, "qrcamlib.dll", "QRSetGPOut", reinterpret_cast<void*>(&CameraCalls::setGpOut));
  qrtest::ImportHook balance(driver, "qrcamlib.dll", "QRWhiteBalance",
                             reinterpret_cast<void*>(&CameraCalls::whiteBalance));
  ASSERT_TRUE(gpOut.installed() && balance.installed());
  CameraCalls::digitalOutputs.clear();
  CameraCalls::whiteBalances = 0;
  struct Case {
    DWORD output;
    DWORD manual;
    std::vector<LONG> sent;  // by this apply
    int balances;
  };
  const Case cases[] = {{5, 1, {5}, 1}, {127, 0, {127}, 0}, {128, 1, {}, 1}, {0xFFFFFFFF, 0, {0}, 0}};
  for (const Case& c : cases) {
    CameraCalls::digitalOutputs.clear();
    CameraCalls::whiteBalances = 0;
    setDword(kValuesKey, "Digital Output", c.output);
    setDword(kValuesKey, "Manual AWB", c.manual);
    setFlags(3);
    ASSERT_NO_FATAL_FAILURE(frame());
    ASSERT_NO_FATAL_FAILURE(frame());  // no request: nothing more
    EXPECT_EQ(c.sent, CameraCalls::digitalOutputs) << "output " << c.output;
    EXPECT_EQ(c.balances, CameraCalls::whiteBalances) << "output " << c.output;
  }
}

TEST_F(OutOfBand, ValuesMissingOfTheWrongTypeOrOutOfRangeNeverReachTheCameraRaw) {
  const LONG red = QRGetRedBal(), saturation = QRGetChromaSat();
  const BYTE binary[4] = {200, 0, 0, 0};
  qrtest::writeRawValue(kValuesKey, "Red Balance", REG_BINARY, binary, sizeof binary);
  setDword(kValuesKey, "Video Gain", 0xFFFFFFFF);  // -1
  setDword(kValuesKey, "Image Sharpness", 1000);
  setDword(kValuesKey, "Shutter Value", 0x80000000);
  setFlags(3);
  ASSERT_NO_FATAL_FAILURE(frame());
  EXPECT_EQ(1, flags());
  EXPECT_EQ(red, QRGetRedBal()) << "a binary value was taken";
  EXPECT_EQ(saturation, QRGetChromaSat()) << "a missing value was taken as 0";
  EXPECT_EQ(0, QRGetGain());
  EXPECT_EQ(255, QRGetSharpness());
  EXPECT_EQ(0, QRGetShutter());
}

TEST_F(OutOfBand, AReportRequestWritesTheCameraValuesOnceAndIsAcknowledged) {
  setFlags(5);
  ASSERT_NO_FATAL_FAILURE(frame());
  EXPECT_EQ(1, flags());
  EXPECT_EQ(QRGetRedBal(), reported("Camera Red Balance"));
  EXPECT_EQ(QRGetBlueBal(), reported("Camera Blue Balance"));
  EXPECT_EQ(QRGetShutter(), reported("Camera Shutter Value"));
  EXPECT_EQ(QRGetGain(), reported("Camera Video Gain"));
  EXPECT_FALSE(isReported("Camera Button Status"));
}

TEST_F(OutOfBand, WithoutTheEnableBitNothingIsReadAppliedOrAcknowledged) {
  const LONG shutter = QRGetShutter();
  setDword(kValuesKey, "Shutter Value", 1000);
  for (DWORD request : {2u, 4u, 8u, 14u}) {
    setFlags(request);
    ASSERT_NO_FATAL_FAILURE(frame());
    EXPECT_EQ(static_cast<LONG>(request), flags());
  }
  EXPECT_EQ(shutter, QRGetShutter());
  EXPECT_FALSE(isReported("Camera Red Balance"));
  EXPECT_FALSE(isReported("Camera Button Status"));
}

TEST_F(OutOfBand, TheButtonIsReportedWhileAskedForAndTheFlagsStay9) {
  setFlags(9);
  for (LONG level : {0, 1, 1, 0, 1}) {
    ASSERT_EQ(1, VCamSetButton(0, level));
    ASSERT_NO_FATAL_FAILURE(frame());
    EXPECT_EQ(level, reported("Camera Button Status")) << "level " << level;
    EXPECT_EQ(9, flags());
  }
  VCamSetButton(0, 0);
}

// With "Grab Button" on, the button toggles the hold; while it holds, an apply waits.
TEST_F(CaptureDriver, WhileTheButtonHoldsThePictureAnApplyWaits) {
  storeProfile({{"Grab Button", 1}, {"ASC Enable", 0}, {"AWB Tracking", 0}});
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  ASSERT_EQ(0, setFormat(video, 160, 120, BI_RGB, 24));
  Buffers buffers(1, 160 * 120 * 3);
  auto frame = [&] { return send(video, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)); };
  ASSERT_EQ(1, VCamSetButton(0, 1));
  ASSERT_EQ(0, frame());  // the hold begins
  ASSERT_EQ(1, VCamSetButton(0, 0));
  ASSERT_EQ(0, frame());
  setDword(kValuesKey, "Video Gain", 33);
  setFlags(3);
  ASSERT_EQ(0, frame());
  EXPECT_EQ(3, flags()) << "taken while the picture was held";
  ASSERT_EQ(1, VCamSetButton(0, 1));
  ASSERT_EQ(0, frame());  // the hold ends, and the apply is carried out
  VCamSetButton(0, 0);
  EXPECT_EQ(1, flags());
  EXPECT_EQ(33, QRGetGain());
}

// At start-up the values marked for it replace the profile's (with the frequency of the shutter);
// the flags are left for the first frame.
TEST_F(CaptureDriver, TheStartUpReadTakesItsValuesAndLeavesTheFlags) {
  storeProfile({{"ASC Enable", 0}, {"AWB Tracking", 0}, {"Color Saturation", 90}});
  setDword(kValuesKey, "Red Balance", 11);
  setDword(kValuesKey, "Shutter Value", 520);
  setDword(kValuesKey, "Color Saturation", 20);  // read per frame only
  setDword(kValuesKey, "LED Mode", 1);
  setFlags(3);
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  EXPECT_EQ(11, QRGetRedBal());
  EXPECT_EQ(520, QRGetShutter());
  EXPECT_EQ(3000, QRGetScanFreq());
  EXPECT_EQ(90, QRGetChromaSat());
  EXPECT_EQ(3, flags());
  ASSERT_EQ(0, send(video, kDvmConfigureStorage, 0, kConfigureStorageSet));
  EXPECT_EQ(1, ExtRegGetVal("AVI", "UserProfile1", "LED Mode")) << "the out-of-band LED mode";
}

// qravictl, the other program, against a stream in this process: each request is acknowledged by
// the streaming driver; without a stream it says so and takes its request back.
TEST_F(OutOfBand, QravictlSetsGetsAndWatchesThroughAStreamingDriverAndSaysWhenNoneStreams) {
  std::string output;
  EXPECT_EQ(1, qrtest::runChild("qravictl.exe", "-w 300 get", output));
  EXPECT_EQ(1, flags()) << "the unanswered request was left behind";
  EXPECT_EQ(2, qrtest::runChild("qravictl.exe", "set \"No Such Value\" 1", output));

  Buffers buffers(2, 160 * 120 * 3);
  avitest::Recycler recycler{video_};
  callbacks_.onData(&avitest::Recycler::onData, &recycler);
  ASSERT_EQ(0, initStream(video_, 16667));
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    ASSERT_EQ(0, send(video_, kDvmStreamAddBuffer, reinterpret_cast<LPARAM>(buffers[i]), sizeof(VIDEOHDR)));
  }
  ASSERT_EQ(0, send(video_, kDvmStreamStart));

  EXPECT_EQ(0,
            qrtest::runChild("qravictl.exe", "set \"AGC Enable\" 0 \"Shutter Value\" 5000 \"Video Gain\" 40", output));
  EXPECT_EQ("applied 3 values\n", output);
  EXPECT_EQ(3900, QRGetShutter());
  EXPECT_EQ(40, QRGetGain());
  EXPECT_EQ(0, qrtest::runChild("qravictl.exe", "get", output));
  EXPECT_NE(std::string::npos, output.find("Camera Shutter Value: 3900\n")) << output;
  EXPECT_NE(std::string::npos, output.find("Camera Video Gain: 40\n")) << output;
  ASSERT_EQ(1, VCamSetButton(0, 1));
  EXPECT_EQ(0, qrtest::runChild("qravictl.exe", "watch -n 1", output));
  EXPECT_EQ("button pressed\n", output);
  VCamSetButton(0, 0);
  EXPECT_EQ(1, flags()) << "the watch left its report switched on";

  recycler.stop = 1;
  ASSERT_EQ(0, send(video_, kDvmStreamStop));
  ASSERT_EQ(0, send(video_, kDvmStreamReset));
  ASSERT_EQ(0, send(video_, kDvmStreamFini));
}

}  // namespace

// Every setter's limits, caching and register effect, and the getters, against the virtual camera.
#include <chrono>
#include <cstring>

#include "camlib_fixture.h"
#include "parameter_rules.h"
#include "test_thread.h"
#include "quant_table.h"
#include "tone_table.h"

namespace {

using qrtest::cameraRegister;
using qrtest::vendorRequests;

class Parameters : public camlibtest::CameraLibrary {
 protected:
  void SetUp() override {
    CameraLibrary::SetUp();
    acquireUsbCamera();
    VCamClearLog();
  }
};

using Setter = LONG(WINAPI*)(LONG);
using Getter = LONG(WINAPI*)();

TEST_F(Parameters, SettersStoreTheirValueAndProgramTheirRegister) {
  struct Case {
    const char* name;
    Setter set;
    Getter get;
    LONG argument;
    int reg;
    DWORD registerValue;
    LONG stored;
  };
  const Case cases[] = {
      {"gain", QRSetGain, QRGetGain, 80, 5, 80, 80},
      {"gain -1", QRSetGain, QRGetGain, -1, 5, 255, 255},
      {"gain 300", QRSetGain, QRGetGain, 300, 5, 255, 255},
      {"auto bias", QRSetAutoBias, QRGetAutoBias, 400, 5, 255, 255},
      {"auto bias", QRSetAutoBias, QRGetAutoBias, 17, 5, 17, 17},
      {"blue", QRSetBlueBal, nullptr, -7, 4, 255, 0},
      {"red", QRSetRedBal, nullptr, 90, 26, 90, 0},
      {"saturation", QRSetChromaSat, QRGetChromaSat, 256, 35, 255, 255},
      {"sharpness", QRSetSharpness, QRGetSharpness, 200, 36, 200, 200},
      {"shutter not clamped", QRSetShutter, nullptr, 70000, 37, 70000, 0},
      {"awb on", QRSetAWBEn, QRGetAWBEn, 7, 2, 1, 7},
      {"awb off", QRSetAWBEn, QRGetAWBEn, 0, 2, 0, 0},
      {"led on", QRSetLEDEn, QRGetLEDEn, 5, 18, 2, 5},
      {"led off", QRSetLEDEn, QRGetLEDEn, 0, 18, 0, 0},
      {"mirror", QRSetMirrorEn, QRGetMirrorEn, 3, 19, 1, 3},
      {"power", QRSetPowerEn, QRGetPowerEn, 9, 23, 1, 9},
      {"power off", QRSetPowerEn, QRGetPowerEn, 0, 23, 0, 0},
      {"60 Hz off", QRSet60HzEn, QRGet60HzEn, 0, 9, 0, 0},
      {"60 Hz on", QRSet60HzEn, QRGet60HzEn, -2, 9, 1, -2},
      {"noise filter on", QRSetNF, QRGetNF, 4, 21, 5, 4},
      {"noise filter off", QRSetNF, QRGetNF, 0, 21, 0, 0},
      {"agc 12", QRSetAGCMode, QRGetAGCMode, 12, 1, 3, 12},
      {"agc 4", QRSetAGCMode, QRGetAGCMode, 4, 1, 2, 4},
      {"agc 2", QRSetAGCMode, QRGetAGCMode, 2, 1, 1, 2},
      {"agc 16", QRSetAGCMode, QRGetAGCMode, 16, 1, 0, 16},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(1, c.set(c.argument)) << c.name;
    EXPECT_EQ(c.registerValue, cameraRegister(0, c.reg)) << c.name;
    if (c.get) {
      EXPECT_EQ(c.stored, c.get()) << c.name;
    }
  }
}

TEST_F(Parameters, NoiseFilterChangesArePrecededByRegister46) {
  ASSERT_EQ(1, QRSetNF(1));
  camlibtest::expectRegisterWrites({{46, 0x80, 0}, {21, 5, 0}});
}

TEST_F(Parameters, CachedSettersSkipTheCameraForAnUnchangedValue) {
  struct Case {
    const char* name;
    Setter set;
    LONG first, again;
  };
  const Case cases[] = {
      {"agc", QRSetAGCMode, 4, 4},
      {"mirror", QRSetMirrorEn, 1, 1},
      {"invert", QRSetInvertEn, 1, 1},
      {"gamma", QRSetGamma, 100, 100},
      {"gamma clamped", QRSetGamma, 300, 255},
      {"blc clamped", QRSetBLCEn, 999, 255},
      {"format", QRSetOutputFormat, 3, 3},
      {"resolution", QRSetResolution, 0, 0},
      {"quality", QRSetQuality, 100, 100},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(1, c.set(c.first)) << c.name;
    VCamClearLog();
    EXPECT_EQ(1, c.set(c.again)) << c.name;
    EXPECT_TRUE(vendorRequests().empty()) << c.name;
  }
  // Uncached setters send every time.
  ASSERT_EQ(1, QRSetGain(40));
  VCamClearLog();
  ASSERT_EQ(1, QRSetGain(40));
  EXPECT_EQ(1u, vendorRequests().size());
}

TEST_F(Parameters, QualityIsComparedBeforeClampingSo300SendsAgainAfter255) {
  WORD first[128], second[128];
  ASSERT_EQ(1, QRSetQuality(255));
  ASSERT_EQ(1, VCamReadQuantTable(0, first));
  VCamClearLog();
  ASSERT_EQ(1, QRSetQuality(300));
  ASSERT_EQ(1, VCamReadQuantTable(0, second));
  camlibtest::expectRegisterWrites({{25, 0, 256}});
  EXPECT_EQ(0, std::memcmp(first, second, sizeof first));
  EXPECT_EQ(255, QRGetQuality());
}

TEST_F(Parameters, QuantisationTableFollowsQuality) {
  struct Case {
    LONG quality;
    WORD firstStep;
  };
  const Case cases[] = {{50, 28}, {150, 16}, {220, 4}, {-5, 4}};  // 90 %, 50 %, 15 % of 32; -5 clamps to 255
  for (const Case& c : cases) {
    ASSERT_EQ(1, QRSetQuality(c.quality));
    WORD table[128];
    ASSERT_EQ(1, VCamReadQuantTable(0, table));
    EXPECT_EQ(c.firstStep, table[0]) << c.quality;
    const camlib::QuantTable expected = camlib::buildQuantTable(camlib::clampToByte(c.quality));
    EXPECT_EQ(0, std::memcmp(expected.data(), table, sizeof table)) << c.quality;
  }
}

TEST_F(Parameters, GammaZeroWithoutBlcSendsTheIdentityToneTable) {
  ASSERT_EQ(0, QRGetBLCEn());
  ASSERT_EQ(1, QRSetGamma(0));
  BYTE table[256];
  ASSERT_EQ(1, VCamReadToneTable(0, table));
  for (int x = 0; x < 256; ++x) ASSERT_EQ(x, table[x]) << x;
  camlibtest::expectRegisterWrites({{13, 0, 256}});
}

TEST_F(Parameters, ToneTableCombinesGammaAndBlcLevel) {
  ASSERT_EQ(1, QRSetBLCEn(90));
  ASSERT_EQ(1, QRSetGamma(160));
  BYTE table[256];
  ASSERT_EQ(1, VCamReadToneTable(0, table));
  const camlib::ToneTable expected = camlib::buildToneTable(160, 90);
  EXPECT_EQ(0, std::memcmp(expected.data(), table, 256));
  EXPECT_EQ(90, QRGetBLCEn());
  EXPECT_EQ(160, QRGetGamma());
  EXPECT_EQ(2u, vendorRequests().size());
}

TEST_F(Parameters, ResolutionProgramsTheCaptureSize) {
  struct Case {
    LONG code;
    DWORD width, height;
  };
  const Case cases[] = {{0, 640, 480}, {1, 320, 240}, {3, 352, 288}, {4, 176, 144},
                        {5, 640, 480}, {6, 120, 96},  {2, 160, 120}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    VCamClearLog();
    ASSERT_EQ(1, QRSetResolution(c.code));
    EXPECT_EQ(c.code, QRGetResolution());
    camlibtest::expectRegisterWrites({{6, 0, 0},
                                      {27, c.width, 0},
                                      {28, c.height, 0},
                                      {29, c.width, 0},
                                      {30, c.height, 0},
                                      {31, 0, 0},
                                      {32, 0, 0},
                                      {6, 1, 0}});
  }
}

TEST_F(Parameters, ResolutionOutsideTheTableIsRefusedAndChangesNothing) {
  ASSERT_EQ(1, QRSetResolution(1));
  VCamClearLog();
  for (LONG code : {7, -1, 100}) EXPECT_EQ(0, QRSetResolution(code)) << code;
  EXPECT_EQ(1, QRGetResolution());
  EXPECT_EQ(320u, cameraRegister(0, 27));
  EXPECT_EQ(240u, cameraRegister(0, 28));
  EXPECT_TRUE(vendorRequests().empty());
}

TEST_F(Parameters, OutputFormatRestartsCaptureForCompressedFrames) {
  ASSERT_EQ(1, QRSetOutputFormat(4));
  // The decoder is there: compressed frames.
  camlibtest::expectRegisterWrites({{6, 0, 0}, {10, 0x10, 0}, {6, 1, 0}});
  EXPECT_EQ(4, QRGetOutputFormat());
  VCamClearLog();
  for (LONG format : {6, -1, 1000}) EXPECT_EQ(0, QRSetOutputFormat(format)) << format;
  EXPECT_EQ(4, QRGetOutputFormat());
  EXPECT_TRUE(vendorRequests().empty());
}

TEST_F(Parameters, FlipDependsOnTheFormatCurrentWhenInvertIsSet) {
  struct Case {
    LONG format, invert;
    DWORD flip;
  };
  const Case cases[] = {{0, 1, 0}, {3, 0, 0}, {3, 1, 1}, {1, 0, 1}, {5, 1, 1}, {2, 1, 0}};
  for (const Case& c : cases) {
    ASSERT_EQ(1, QRSetOutputFormat(c.format));
    ASSERT_EQ(1, QRSetInvertEn(c.invert ? 0 : 1));  // make sure the next call is not cached
    ASSERT_EQ(1, QRSetInvertEn(c.invert));
    EXPECT_EQ(c.flip, cameraRegister(0, 17)) << c.format << "," << c.invert;
  }
  // Changing the format afterwards does not recompute the flip.
  ASSERT_EQ(1, QRSetOutputFormat(3));
  EXPECT_EQ(0u, cameraRegister(0, 17));
}

TEST_F(Parameters, CameraReadingGettersAskTheCamera) {
  ASSERT_EQ(1, QRSetRedBal(77));
  ASSERT_EQ(1, QRSetBlueBal(66));
  ASSERT_EQ(1, QRSetShutter(70000));
  VCamClearLog();
  EXPECT_EQ(77, QRGetRedBal());
  EXPECT_EQ(66, QRGetBlueBal());
  EXPECT_EQ(70000 & 0xFFFF, QRGetShutter());  // the camera answers 16 bits
  const auto requests = vendorRequests();
  ASSERT_EQ(3u, requests.size());
  const DWORD registers[] = {26, 4, 37};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(1u, requests[i].direction);
    EXPECT_EQ(0x61u, requests[i].request);
    EXPECT_EQ(0u, requests[i].value);
    EXPECT_EQ(registers[i], requests[i].index);
    EXPECT_EQ(2u, requests[i].length);
  }
}

TEST_F(Parameters, GeneralInputReportsTheButtonLevel) {
  EXPECT_EQ(0, QRGetGPIn());
  ASSERT_EQ(1, VCamSetButton(0, 1));
  EXPECT_EQ(1, QRGetGPIn());
  ASSERT_EQ(1, VCamSetButton(0, 0));
  EXPECT_EQ(0, QRGetGPIn());
}

TEST_F(Parameters, StoredOnlyValuesNeverReachTheCamera) {
  EXPECT_EQ(1, QRSetFastGrabEn(1));
  EXPECT_EQ(1, QRSetFrameTime(66));
  EXPECT_EQ(1, QRSetScanFreq(15734));
  EXPECT_TRUE(vendorRequests().empty());
  EXPECT_EQ(1, QRGetFastGrabEn());
  LONG frameTime = 0;
  EXPECT_EQ(1, QRGetFrameTime(&frameTime));
  EXPECT_EQ(66, frameTime);
  EXPECT_EQ(15734, QRGetScanFreq());
}

TEST_F(Parameters, SetDefaultsSelectsExposureModeOne) {
  ASSERT_EQ(1, QRSetAGCMode(8));
  EXPECT_EQ(1, QRSetDefaults());
  EXPECT_EQ(1, QRGetAGCMode());
  EXPECT_EQ(1u, cameraRegister(0, 1));
}

TEST_F(Parameters, MmxFlagFollowsTheProcessor) {
  // Every x86 processor Wine runs on has MMX.
  EXPECT_EQ(1, QRSetMMXEn(1));
  EXPECT_EQ(1, QRGetMMXEn());
  EXPECT_EQ(0, QRSetMMXEn(0));
  EXPECT_EQ(0, QRGetMMXEn());
}

TEST_F(Parameters, ConstantExportsDoNothing) {
  EXPECT_EQ(0, QRSetPPAEn(1));
  EXPECT_EQ(0, QRGetPPAEn());
  Setter ones[] = {QRSetNegativeEn, QRSetGPOut, QRClearGPIn};
  for (Setter s : ones) EXPECT_EQ(1, s(5));
  Getter oneGetters[] = {QRGetNegativeEn, QRGetGPOut, QRGetPeakVideo, QRWhiteBalance, QRGrabFrame};
  for (Getter g : oneGetters) EXPECT_EQ(1, g());
  EXPECT_EQ(1, QRVideoLineRead(1, 2));
  EXPECT_EQ(1, QRVideoFrameDecompress(1, 2));
  EXPECT_EQ(1, QRVideoLineDecompress(1, 2, 3));
  EXPECT_TRUE(vendorRequests().empty());
}

// Another thread holds "QR3IO" longer than the library waits: resolution and format changes give
// up after 3 s without touching the camera, but what they asked for is stored at once (the caller
// sizes its buffers by it). The camera gets it the next time the mutex is had, also from a
// repeated call, which is not taken as cached until then.
TEST_F(Parameters, CaptureChangesGiveUpWhenTheCameraMutexStaysTaken) {
  HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  qrtest::TestThread holder([&] {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "QR3IO");
    WaitForSingleObject(mutex, INFINITE);
    SetEvent(taken);
    WaitForSingleObject(done, 30000);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(taken, 10000));
  VCamClearLog();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, QRSetResolution(0));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(0, QRGetResolution());
  EXPECT_EQ(1, QRSetOutputFormat(3));
  EXPECT_EQ(3, QRGetOutputFormat());
  EXPECT_TRUE(vendorRequests().empty());
  SetEvent(done);
  holder.join();
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 2900);
  // Free again: the repeated change sends both, in one capture stop and restart.
  EXPECT_EQ(1, QRSetResolution(0));
  camlibtest::expectRegisterWrites({{6, 0, 0},
                                    {27, 640, 0},
                                    {28, 480, 0},
                                    {29, 640, 0},
                                    {30, 480, 0},
                                    {31, 0, 0},
                                    {32, 0, 0},
                                    {10, 0x10, 0},
                                    {6, 1, 0}});
  VCamClearLog();
  EXPECT_EQ(1, QRSetResolution(0));
  EXPECT_EQ(1, QRSetOutputFormat(3));
  EXPECT_TRUE(vendorRequests().empty()) << "now the camera has them: cached";
  CloseHandle(taken);
  CloseHandle(done);
}

}  // namespace

// Discovery, the camera table, acquisition and the information exports, against the virtual camera.
#include <cstring>
#include <set>

#include "camlib_fixture.h"
#include "quant_table.h"
#include "tone_table.h"

namespace {

using camlibtest::CameraLibrary;
using qrtest::plug;
using qrtest::usbCamera;

constexpr DWORD kGetInfo = 0x222004, kVendor = 0x222008, kDriverInfo = 0x22201C;

TEST_F(CameraLibrary, NoCameraAcquiresNothingAndReportsError17) {
  EXPECT_EQ(1, QRAcquireLib());
  EXPECT_EQ(0, QRFindQuorel());
  LONG error = 0;
  EXPECT_EQ(1, QRGetQuorelInfo(4, &error));
  EXPECT_EQ(QR_ERROR_NO_CAMERA, error);
  EXPECT_EQ(1, QRReleaseLib());
}

TEST_F(CameraLibrary, ExportsThatNeedACameraDoNothingWithoutOne) {
  ASSERT_EQ(1, QRAcquireLib());  // nothing plugged in
  LONG(WINAPI* const setters[])
  (LONG) = {QRSetAGCMode,    QRSetAutoBias,  QRSetAWBEn,        QRSetBLCEn,   QRSetBlueBal,  QRSetChromaSat,
            QRSetFastGrabEn, QRSetFrameTime, QRSetGain,         QRSetGamma,   QRSetInvertEn, QRSetLEDEn,
            QRSetMirrorEn,   QRSetNF,        QRSetOutputFormat, QRSetPowerEn, QRSetQuality,  QRSetRedBal,
            QRSetResolution, QRSetScanFreq,  QRSetSharpness,    QRSetShutter, QRSet60HzEn};
  for (auto setter : setters) EXPECT_EQ(0, setter(3));
  LONG(WINAPI* const getters[])
  () = {QRGetAGCMode,    QRGetAutoBias, QRGetAWBEn,        QRGetBLCEn,   QRGetBlueBal,  QRGetChromaSat,
        QRGetFastGrabEn, QRGetGain,     QRGetGamma,        QRGetGPIn,    QRGetInvertEn, QRGetLEDEn,
        QRGetMirrorEn,   QRGetNF,       QRGetOutputFormat, QRGetPowerEn, QRGetQuality,  QRGetRedBal,
        QRGetResolution, QRGetScanFreq, QRGetSharpness,    QRGetShutter, QRGet60HzEn};
  for (auto getter : getters) EXPECT_EQ(0, getter());
  LONG frameTime = -1;
  EXPECT_EQ(1, QRGetFrameTime(&frameTime));
  EXPECT_EQ(0, frameTime);
  EXPECT_EQ(1, QRSetDefaults());
  LONG words[3] = {-1, -1, -1};
  for (LONG selector : {1, 2, 5, 6}) {
    EXPECT_EQ(0, QRGetQuorelInfo(selector, words)) << selector;
    EXPECT_EQ(-1, words[0]);
  }
  EXPECT_EQ(1, QRReleaseCam(0));
  EXPECT_TRUE(qrtest::requestLog().empty());
}

TEST_F(CameraLibrary, NullOutputPointersAreRefused) {
  acquireUsbCamera();
  EXPECT_EQ(0, QRGetLibVersion(nullptr));
  for (LONG selector : {1, 2, 4, 5, 6}) EXPECT_EQ(0, QRGetQuorelInfo(selector, nullptr)) << selector;
  EXPECT_EQ(1, QRGetQuorelInfo(3, nullptr));
  EXPECT_EQ(0, QRGetDriverInfo(nullptr, 24));
  EXPECT_EQ(0, QRGetCamList(nullptr));
  EXPECT_EQ(0, QRGetFrameTime(nullptr));
}

TEST_F(CameraLibrary, VersionIsOneZeroZeroZero) {
  WORD version[4] = {9, 9, 9, 9};
  EXPECT_EQ(1, QRGetLibVersion(version));
  EXPECT_EQ(1, version[0]);
  EXPECT_EQ(0, version[1]);
  EXPECT_EQ(0, version[2]);
  EXPECT_EQ(0, version[3]);
}

TEST_F(CameraLibrary, InformationSelectorsDescribeTheCurrentCamera) {
  acquireUsbCamera(0x0403, "SN-0001");
  LONG words[3] = {};
  EXPECT_EQ(1, QRGetQuorelInfo(1, words));
  EXPECT_EQ(0x100 + 0x0403, words[0]);  // InfoWord1 as the camera reported it
  EXPECT_EQ(2, words[1]);
  EXPECT_EQ(0, words[2]);
  LONG deviceId = 0;
  EXPECT_EQ(1, QRGetQuorelInfo(6, &deviceId));
  EXPECT_EQ(0x0403, deviceId);
  char serial[QR_TEXT_SIZE + 4];
  std::memset(serial, 'x', sizeof serial);
  EXPECT_EQ(1, QRGetQuorelInfo(5, serial));
  EXPECT_STREQ("SN-0001", serial);
  EXPECT_EQ('x', serial[QR_TEXT_SIZE]);  // exactly 128 bytes written

  // Selector 3 writes nothing; any selector outside 1-6 is refused with -10.
  LONG untouched[3] = {77, 77, 77};
  EXPECT_EQ(1, QRGetQuorelInfo(3, untouched));
  for (LONG selector : {7, 0, -1, 100}) EXPECT_EQ(QR_BAD_SELECTOR, QRGetQuorelInfo(selector, untouched)) << selector;
  for (LONG word : untouched) EXPECT_EQ(77, word);
}

TEST_F(CameraLibrary, ParallelPortCameraReportsItsPort) {
  plug(2, qrtest::parallelCamera(0x0201, 1, 0x378, 3));
  ASSERT_EQ(1, QRAcquireLib());
  ASSERT_EQ(1, QRFindQuorel());
  LONG words[3] = {};
  ASSERT_EQ(1, QRGetQuorelInfo(1, words));
  EXPECT_EQ(1, words[1]);
  ASSERT_EQ(1, QRGetQuorelInfo(2, words));
  EXPECT_EQ(1, words[0]);
  EXPECT_EQ(0x378, words[1]);
  EXPECT_EQ(3, words[2]);
}

TEST_F(CameraLibrary, UsbCamerasAreChosenBeforeParallelPortCameras) {
  plug(0, qrtest::parallelCamera(0x0201, 1, 0x378, 1));
  plug(1, usbCamera(0x0403));
  ASSERT_EQ(1, QRAcquireLib());
  LONG words[3] = {};
  ASSERT_EQ(1, QRGetQuorelInfo(1, words));
  EXPECT_EQ(2, words[1]);
  QRReleaseLib();
  // With the USB camera gone the parallel-port one is taken.
  ASSERT_EQ(1, VCamUnplug(1));
  ASSERT_EQ(1, QRAcquireLib());
  ASSERT_EQ(1, QRGetQuorelInfo(1, words));
  EXPECT_EQ(1, words[1]);
}

// The start-up programming, register by register (tables: value 0, 256-byte data stage).
const std::vector<camlibtest::RegisterWrite> kStartupSequence = {
    // clang-format off
    {23, 1, 0},   {38, 0, 0},   {9, 1, 0},    {1, 1, 0},    {37, 256, 0}, {37, 256, 0}, {5, 50, 0},
    {7, 125, 0},  {19, 0, 0},   {17, 0, 0},   {36, 125, 0}, {13, 0, 256},  // gamma 75: tone table
    /* BLC 0 equals the stored 0: nothing sent */
    {35, 125, 0}, {2, 1, 0},    {4, 125, 0},  {26, 125, 0}, {46, 0x80, 0}, {21, 0, 0},  {47, 0, 0},
    {45, 0, 0},   {25, 0, 256},  // quality 250: quantisation table
    {18, 2, 0},   {11, 614, 0}, {6, 0, 0},    {10, 0, 0},
    {6, 0, 0},    {27, 160, 0}, {28, 120, 0}, {29, 160, 0}, {30, 120, 0}, {31, 0, 0},  {32, 0, 0}, {6, 1, 0},
    {6, 0, 0},    {10, 0x10, 0}, {6, 1, 0},  // output format 0, compressed frames
    {20, 0, 0},
    // clang-format on
};

TEST_F(CameraLibrary, AcquireLibSendsTheStartUpSequenceInOrder) {
  plug(0, usbCamera(0x0403));
  ASSERT_EQ(1, VCamClearLog());
  ASSERT_EQ(1, QRAcquireLib());

  const std::vector<VCamLogEntry> log = qrtest::requestLog();
  // Registration asks for the driver and the camera; acquisition asks for the camera again.
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(kDriverInfo, log[0].code);
  EXPECT_EQ(kGetInfo, log[1].code);
  EXPECT_EQ(kGetInfo, log[2].code);

  camlibtest::expectRegisterWrites(kStartupSequence);
  ASSERT_EQ(log.size(), 3 + kStartupSequence.size());

  BYTE tone[256];
  ASSERT_EQ(1, VCamReadToneTable(0, tone));
  const camlib::ToneTable expectedTone = camlib::buildToneTable(75, 0);
  EXPECT_EQ(0, std::memcmp(expectedTone.data(), tone, 256));
  WORD quant[128];
  ASSERT_EQ(1, VCamReadQuantTable(0, quant));
  const camlib::QuantTable expectedQuant = camlib::buildQuantTable(250);
  EXPECT_EQ(0, std::memcmp(expectedQuant.data(), quant, sizeof quant));
  EXPECT_EQ(4, quant[0]);  // 15 % of 32

  // The stored values the front ends read back.
  EXPECT_EQ(1, QRGetAGCMode());
  EXPECT_EQ(50, QRGetGain());
  EXPECT_EQ(75, QRGetGamma());
  EXPECT_EQ(250, QRGetQuality());
  EXPECT_EQ(2, QRGetResolution());
  EXPECT_EQ(0, QRGetOutputFormat());
  EXPECT_EQ(1, QRGetLEDEn());
}

TEST_F(CameraLibrary, ReleaseLibStopsCaptureAndFreesTheCamera) {
  acquireUsbCamera();
  ASSERT_EQ(1u, qrtest::cameraRegister(0, 6));
  VCamDeviceStatus status;
  ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
  EXPECT_EQ(1u, status.open);
  EXPECT_EQ(1, QRReleaseLib());
  EXPECT_EQ(0u, qrtest::cameraRegister(0, 6));
  ASSERT_EQ(1, VCamGetDeviceStatus(0, &status));
  EXPECT_EQ(0u, status.open);
  EXPECT_EQ(0, QRFindQuorel());
}

TEST_F(CameraLibrary, CameraListHasTheDocumentedLayout) {
  const DWORD version[4] = {2, 1, 0, 7};
  ASSERT_EQ(1, VCamSetDriverInfo(6, version));
  plug(0, usbCamera(0x0403, "USB-SERIAL"));
  plug(3, qrtest::parallelCamera(0x0201, 2, 0x278, 4));
  CameraListInfo list;
  std::memset(&list, 0xCC, sizeof list);
  ASSERT_EQ(0, QRGetCamList(&list));

  const BYTE* raw = reinterpret_cast<const BYTE*>(&list);
  auto word = [raw](size_t offset) {
    DWORD w;
    std::memcpy(&w, raw + offset, 4);
    return w;
  };
  EXPECT_EQ(0u, word(0));
  EXPECT_EQ(2u, word(4));  // CameraCount
  for (size_t i = 8; i < 32; ++i) ASSERT_EQ(0, raw[i]) << "reserved byte " << i;
  EXPECT_EQ(0u, word(32));  // driver info's first word stays 0 in the list
  EXPECT_EQ(6u, word(36));
  EXPECT_EQ(2u, word(40));
  EXPECT_EQ(7u, word(52));
  // Entries start at 56, 548 bytes each, packed in table order.
  const size_t first = 56, second = 56 + 548;
  EXPECT_NE(0u, word(first));                   // ID
  EXPECT_EQ(0u, word(first + 4));               // not in use
  EXPECT_EQ(2u, word(first + 8));               // bus type
  EXPECT_EQ(0x100u + 0x403, word(first + 12));  // InfoWord1
  EXPECT_EQ(0x403u, word(first + 16));          // device identifier
  EXPECT_EQ(0x200u, word(first + 32));          // InfoWord2
  EXPECT_STREQ("Quorel USB camera", reinterpret_cast<const char*>(raw + first + 36));
  EXPECT_STREQ("USB-SERIAL", reinterpret_cast<const char*>(raw + first + 36 + 256));
  EXPECT_STREQ("QRVIDDEV0", reinterpret_cast<const char*>(raw + first + 420));
  EXPECT_EQ(1u, word(second + 8));
  EXPECT_EQ(0x201u, word(second + 16));
  EXPECT_EQ(2u, word(second + 20));      // port number
  EXPECT_EQ(0x278u, word(second + 24));  // port address
  EXPECT_EQ(4u, word(second + 28));      // port mode
  EXPECT_STREQ("QRVIDDEV3", reinterpret_cast<const char*>(raw + second + 420));
  EXPECT_GT(word(second), word(first));
  for (size_t i = 56 + 2 * 548; i < sizeof list; ++i) ASSERT_EQ(0, raw[i]) << "unused entry byte " << i;

  QRDriverInfo info;
  std::memset(&info, 0xCC, sizeof info);
  ASSERT_EQ(1, QRGetDriverInfo(&info, sizeof info));
  EXPECT_EQ(24u, info.size);
  EXPECT_EQ(6u, info.driverType);
  EXPECT_EQ(0, std::memcmp(version, info.version, sizeof version));
}

TEST_F(CameraLibrary, CameraIdsRiseAndAReturningCameraGetsANewOne) {
  plug(0, usbCamera(0x0403));
  CameraListInfo list = cameraList();
  ASSERT_EQ(1u, list.cameraCount);
  const LONG firstId = list.cameras[0].cameraId;
  EXPECT_GT(firstId, 0);
  // Seen again while present: same ID.
  EXPECT_EQ(firstId, cameraList().cameras[0].cameraId);
  ASSERT_EQ(1, VCamUnplug(0));
  list = cameraList();
  EXPECT_EQ(0u, list.cameraCount);
  EXPECT_EQ(0, list.cameras[0].cameraId);
  plug(0, usbCamera(0x0403));
  list = cameraList();
  ASSERT_EQ(1u, list.cameraCount);
  EXPECT_GT(list.cameras[0].cameraId, firstId);
}

TEST_F(CameraLibrary, AcquireCamChecksTheIdAndTheHold) {
  plug(0, usbCamera(0x0403));
  plug(1, usbCamera(0x0404));
  const CameraListInfo list = cameraList();
  ASSERT_EQ(2u, list.cameraCount);
  const LONG first = list.cameras[0].cameraId, second = list.cameras[1].cameraId;
  EXPECT_EQ(0, QRAcquireCam(0));
  EXPECT_EQ(0, QRAcquireCam(second + 100));
  ASSERT_EQ(1, QRAcquireCam(second));
  EXPECT_EQ(0, QRAcquireCam(first));  // one camera per process
  LONG deviceId = 0;
  ASSERT_EQ(1, QRGetQuorelInfo(6, &deviceId));
  EXPECT_EQ(0x0404, deviceId);
  EXPECT_EQ(1, cameraList().cameras[1].inUse);
  EXPECT_EQ(1, QRReleaseCam(12345));
  EXPECT_EQ(0, cameraList().cameras[1].inUse);
  EXPECT_EQ(1, QRAcquireCam(first));
  EXPECT_EQ(1, QRReleaseCam(0));
  EXPECT_EQ(1, QRReleaseCam(0));  // nothing acquired: still 1
}

DWORD classEnumerations() {
  VCamStats stats{};
  EXPECT_EQ(1, VCamGetStats(&stats));
  return stats.classEnumerations;
}

// A camera published at its fixed path and as a device interface, held by this process: the
// fixed-path scan finds it, so the interface class is not searched and the process's own camera
// is not met there again as a device someone holds.
TEST_F(CameraLibrary, OwnCameraPublishedTwiceStaysOneCameraAtItsFixedPath) {
  plug(0, usbCamera(0x0403, "TWICE", VCAM_PUBLISH_FIXED_PATH | VCAM_PUBLISH_INTERFACE));
  ASSERT_EQ(1, QRAcquireLib());
  ASSERT_EQ(1, QRFindQuorel());
  const DWORD enumerations = classEnumerations();
  EXPECT_EQ(1, QRAcquireLib()) << "no free camera: nothing acquired, nothing refused";
  EXPECT_EQ(1, QRFindQuorel());
  for (int refresh = 0; refresh < 2; ++refresh) {
    SCOPED_TRACE(refresh);
    const CameraListInfo list = cameraList();
    EXPECT_EQ(1u, list.cameraCount);
    EXPECT_EQ(1, list.cameras[0].inUse);
    EXPECT_STREQ("QRVIDDEV0", list.cameras[0].path);
    EXPECT_EQ(0, list.cameras[1].cameraId);
  }
  EXPECT_EQ(enumerations, classEnumerations()) << "the interface class was searched";
  LONG deviceId = 0;
  ASSERT_EQ(1, QRGetQuorelInfo(6, &deviceId));
  EXPECT_EQ(0x0403, deviceId);
}

TEST_F(CameraLibrary, ACameraThatIsGoneIsDropped) {
  plug(0, usbCamera(0x0403));
  ASSERT_EQ(1u, cameraList().cameraCount);
  ASSERT_EQ(1, VCamSetGone(0, 1));
  EXPECT_EQ(0, QRAcquireLib());  // chosen, but it no longer answers
  EXPECT_EQ(0, QRFindQuorel());
  EXPECT_EQ(0u, cameraList().cameraCount);  // and it does not register while gone
  ASSERT_EQ(1, VCamSetGone(0, 0));
  EXPECT_EQ(1u, cameraList().cameraCount);
}

std::set<LONG> idsOf(const CameraListInfo& list) {
  std::set<LONG> ids;
  for (const QRCameraListEntry& entry : list.cameras)
    if (entry.cameraId) ids.insert(entry.cameraId);
  return ids;
}

// Sixteen cameras fill the table. One goes away and another arrives before the next refresh: the
// refresh drops the first, finds the table was full, scans again and registers the newcomer in
// the freed slot, while the other fifteen keep their IDs.
TEST_F(CameraLibrary, NewCameraTakesTheSlotOfOneThatLeftAFullTable) {
  for (int i = 0; i < 16; ++i) plug(i, usbCamera(0x1000 + i, "", VCAM_PUBLISH_INTERFACE));
  const CameraListInfo before = cameraList();
  ASSERT_EQ(16u, before.cameraCount);
  const std::set<LONG> idsBefore = idsOf(before);
  ASSERT_EQ(16u, idsBefore.size());

  ASSERT_EQ(1, VCamUnplug(5));
  plug(5, usbCamera(0x2005, "", VCAM_PUBLISH_INTERFACE));
  const CameraListInfo after = cameraList();
  ASSERT_EQ(16u, after.cameraCount);
  int newcomers = 0;
  for (int i = 0; i < 16; ++i) {
    const QRCameraListEntry& entry = after.cameras[i];
    if (entry.deviceId == 0x2005) {
      ++newcomers;
      EXPECT_GT(entry.cameraId, *idsBefore.rbegin());
      EXPECT_EQ(5, i);  // the freed slot, in table order
    } else {
      EXPECT_EQ(before.cameras[i].cameraId, entry.cameraId) << "slot " << i;
      EXPECT_EQ(before.cameras[i].deviceId, entry.deviceId) << "slot " << i;
    }
  }
  EXPECT_EQ(1, newcomers);
}

TEST_F(CameraLibrary, SixteenFixedPathCamerasAndOneReplaced) {
  for (int i = 0; i < 16; ++i) plug(i, usbCamera(0x1000 + i));
  const CameraListInfo before = cameraList();
  ASSERT_EQ(16u, before.cameraCount);
  EXPECT_STREQ("QRVIDDEVF", before.cameras[15].path);
  ASSERT_EQ(1, VCamUnplug(9));
  const CameraListInfo without = cameraList();
  EXPECT_EQ(15u, without.cameraCount);
  plug(9, usbCamera(0x2009));
  const CameraListInfo after = cameraList();
  ASSERT_EQ(16u, after.cameraCount);
  EXPECT_EQ(0x2009, after.cameras[9].deviceId);
  EXPECT_GT(after.cameras[9].cameraId, *idsOf(before).rbegin());
  EXPECT_STREQ("QRVIDDEV9", after.cameras[9].path);
}

}  // namespace

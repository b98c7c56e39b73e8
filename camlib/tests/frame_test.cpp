// QRVideoFrameRead against the virtual camera: every resolution and output format carries the
// camera's own picture (the scene renderer's, before encoding) within a small JPEG error, in the
// right orientation, into exactly the bytes the format needs; and what happens when the mutex
// cannot be had, the camera vanishes or sends broken streams.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "camlib_fixture.h"
#include "frame_reference.h"
#include "child_process.h"
#include "frame_source.h"
#include "jpeg_decoder.h"
#include "scene.h"
#include "test_thread.h"

namespace {

using camlibtest::Bytes;
using camlibtest::cameraRegisters;
using camlibtest::destinationBytes;
using camlibtest::expectedOutput;
using camlibtest::framesDelivered;
using camlibtest::meanDifference;

constexpr std::size_t kGuardBytes = 4096;
constexpr std::uint8_t kGuard = 0xA5;
constexpr std::uint8_t kUnwritten = 0x3C;

class FrameCapture : public camlibtest::CameraLibrary {
 protected:
  void SetUp() override {
    CameraLibrary::SetUp();
    acquireUsbCamera();
  }
  void TearDown() override {
    for (const std::string& path : files_) DeleteFileA(path.c_str());
    CameraLibrary::TearDown();
  }

  // Upright unless flipped: the invert flag the front ends pass is 1 for the bottom-up formats
  // (0-2), whose rows the camera then sends bottom-up, and 0 for the top-down ones.
  void select(int resolution, int format, bool flipped = false, LONG mirror = 0) {
    ASSERT_EQ(1, QRSetResolution(resolution));
    ASSERT_EQ(1, QRSetOutputFormat(format));
    const LONG invert = (format <= 2) != flipped ? 1 : 0;
    // The flip register follows the format only when the invert flag is sent again.
    ASSERT_EQ(1, QRSetInvertEn(!invert));
    ASSERT_EQ(1, QRSetInvertEn(invert));
    ASSERT_EQ(1, QRSetMirrorEn(mirror));
  }

  // One QRVideoFrameRead into a buffer of exactly `bytes`, followed by guard bytes that must survive.
  Bytes read(std::size_t bytes, std::size_t guardBytes = kGuardBytes, LONG status = 0) {
    Bytes buffer(bytes + guardBytes, kUnwritten);
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(bytes), buffer.end(), kGuard);
    EXPECT_EQ(status, QRVideoFrameRead(buffer.data()));
    std::size_t damaged = 0;
    for (std::size_t i = bytes; i < buffer.size(); ++i) damaged += buffer[i] != kGuard;
    EXPECT_EQ(0u, damaged) << "bytes written past the " << bytes << "-byte destination";
    buffer.resize(bytes);
    return buffer;
  }

  // Reads one frame and what the camera should have shown in it.
  void readWithReference(int resolution, int format, Bytes& got, Bytes& want) {
    const qrvcam::SceneRegisters regs = cameraRegisters();
    const DWORD frameNumber = framesDelivered();
    got = read(destinationBytes(resolution, format));
    want = expectedOutput(regs, frameNumber, resolution, format);
  }

  std::string writeFile(const std::string& name, const Bytes& bytes) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    const std::string path = std::string(dir) + "qrcamlib-frame-test-" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, file);
    if (!file) return path;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    files_.push_back(path);
    return path;
  }

  void replay(const std::string& name, const Bytes& bytes) {
    ASSERT_GE(VCamQueueReplay(0, writeFile(name, bytes).c_str()), 1);
  }

  std::vector<std::string> files_;
};

// A JPEG error this small means the picture is the scene's: a mirrored, flipped or stale picture,
// or swapped colours, differ by far more (checked below).
constexpr double kJpegError = 3.0;

TEST_F(FrameCapture, EveryResolutionAndFormatCarriesTheScenePictureInExactlyItsBytes) {
  for (int resolution = 0; resolution < 7; ++resolution) {
    for (int format = 0; format < 6; ++format) {
      SCOPED_TRACE("resolution " + std::to_string(resolution) + " format " + std::to_string(format));
      select(resolution, format);
      Bytes got, want;
      readWithReference(resolution, format, got, want);
      EXPECT_LT(meanDifference(got, want, format), kJpegError);
    }
  }
}

TEST_F(FrameCapture, TheComparisonTellsAWrongPictureFromTheRightOne) {
  select(1, 0);
  qrvcam::SceneRegisters regs = cameraRegisters();
  const DWORD frameNumber = framesDelivered();
  const Bytes got = read(destinationBytes(1, 0));
  ASSERT_LT(meanDifference(got, expectedOutput(regs, frameNumber, 1, 0), 0), kJpegError);
  for (int reg : {qrvcam::kRegFlip, qrvcam::kRegMirror}) {
    regs.reg[reg] ^= 1;
    EXPECT_GT(meanDifference(got, expectedOutput(regs, frameNumber, 1, 0), 0), 5 * kJpegError) << "register " << reg;
    regs.reg[reg] ^= 1;
  }
  regs.reg[qrvcam::kRegRedBalance] = 60;  // colours off
  EXPECT_GT(meanDifference(got, expectedOutput(regs, frameNumber, 1, 0), 0), 2 * kJpegError);
}

struct Rgb {
  int r, g, b;
};

// The pixel shown at (x, y), y counted from the top of the picture as displayed: the RGB and grey
// formats are bottom-up, the YUV formats top-down.
Rgb shownPixel(const Bytes& out, int format, int w, int h, int x, int y) {
  const std::size_t bottomUpRow = static_cast<std::size_t>(h - 1 - y);
  switch (format) {
    case 0: {
      const std::uint8_t* p = &out[(bottomUpRow * w + x) * 3];
      return {p[2], p[1], p[0]};
    }
    case 1: {
      const int v = out[bottomUpRow * w + x];
      return {v, v, v};
    }
    case 2: {
      const int word = out[(bottomUpRow * w + x) * 2] | out[(bottomUpRow * w + x) * 2 + 1] << 8;
      return {(word >> 10 & 31) << 3, (word >> 5 & 31) << 3, (word & 31) << 3};
    }
    case 4: {
      const int v = out[(static_cast<std::size_t>(y) * w + x) * 2];
      return {v, v, v};
    }
    default: {  // 3 and 5: the Y plane comes first
      const int v = out[static_cast<std::size_t>(y) * w + x];
      return {v, v, v};
    }
  }
}

int luma(const Rgb& c) { return (77 * c.r + 150 * c.g + 29 * c.b) >> 8; }

// Whether the colour bars (white, yellow, cyan, green, magenta, red, blue, black: falling
// luminance) run across the shown row y, left to right or right to left.
bool barsAcross(const Bytes& out, int format, int w, int h, int y, bool rightToLeft) {
  int previous = 1000;
  for (int bar = 0; bar < 7; ++bar) {
    const int at = rightToLeft ? 7 - bar : bar;
    const int x = (at * 128 + 64) * w / 1024;
    const int level = luma(shownPixel(out, format, w, h, x, y));
    if (level > previous - 8) return false;
    previous = level;
  }
  return true;
}

TEST_F(FrameCapture, PicturesAreShownUprightAndUnmirroredUnlessAskedInEveryFormat) {
  struct Case {
    bool flipped;
    LONG mirror;
    bool barsAtTop, rightToLeft;
  };
  const Case cases[] = {
      {false, 0, true, false}, {false, 1, true, true}, {true, 0, false, false}, {true, 1, false, true}};
  const int w = 160, h = 120;
  const int topBand = h / 8, bottomBand = h - 1 - h / 8;
  for (int format = 0; format < 6; ++format) {
    for (const Case& c : cases) {
      SCOPED_TRACE("format " + std::to_string(format) + " flipped " + std::to_string(c.flipped) + " mirror " +
                   std::to_string(c.mirror));
      select(2, format, c.flipped, c.mirror);
      const Bytes out = read(destinationBytes(2, format));
      EXPECT_TRUE(barsAcross(out, format, w, h, c.barsAtTop ? topBand : bottomBand, c.rightToLeft));
      EXPECT_FALSE(barsAcross(out, format, w, h, c.barsAtTop ? bottomBand : topBand, c.rightToLeft));
      if (format == 0 || format == 2) {  // the red and blue bars keep their colours
        const int redX = ((c.rightToLeft ? 2 : 5) * 128 + 64) * w / 1024;
        const int blueX = ((c.rightToLeft ? 1 : 6) * 128 + 64) * w / 1024;
        const Rgb red = shownPixel(out, format, w, h, redX, c.barsAtTop ? topBand : bottomBand);
        const Rgb blue = shownPixel(out, format, w, h, blueX, c.barsAtTop ? topBand : bottomBand);
        EXPECT_GT(red.r, red.b + 60);
        EXPECT_GT(red.r, red.g + 60);
        EXPECT_GT(blue.b, blue.r + 60);
        EXPECT_GT(blue.b, blue.g + 60);
      }
    }
  }
}

TEST_F(FrameCapture, Resolution5DoublesThe640By480CaptureAndFormat4CopiesOnlyTheCapture) {
  select(5, 0);
  EXPECT_EQ(640u, qrtest::cameraRegister(0, 27));
  EXPECT_EQ(480u, qrtest::cameraRegister(0, 28));
  const Bytes bgr = read(1280 * 960 * 3);
  std::size_t unequal = 0;
  for (int y = 0; y < 960; y += 2) {
    for (int x = 0; x < 1280; x += 2) {
      const std::uint8_t* p = &bgr[(static_cast<std::size_t>(y) * 1280 + x) * 3];
      for (int k = 0; k < 3; ++k) unequal += p[k] != p[3 + k] || p[k] != p[1280 * 3 + k] || p[k] != p[1280 * 3 + 3 + k];
    }
  }
  EXPECT_EQ(0u, unequal) << "each captured pixel becomes a 2 x 2 block";

  select(5, 4);
  Bytes got, want;
  readWithReference(5, 4, got, want);
  ASSERT_EQ(614400u, got.size());  // the guard bytes start right after 614,400 bytes
  EXPECT_LT(meanDifference(got, want, 4), kJpegError);
  // That is the top 240 rows of the doubled picture: each row holds one captured row twice over.
  const std::uint8_t* row = &got[0];
  EXPECT_EQ(row[0], row[2]) << "Y0 U Y0 V";
}

// The mean colour of a 24-bit picture, and how far its farthest pixel lies from it.
struct MeanColour {
  int r, g, b, spread;
};
MeanColour meanColour(const Bytes& bgr) {
  const std::size_t pixels = bgr.size() / 3;
  std::uint64_t sum[3] = {};
  for (std::size_t i = 0; i < bgr.size(); ++i) sum[i % 3] += bgr[i];
  const int mean[3] = {static_cast<int>(sum[0] / pixels), static_cast<int>(sum[1] / pixels),
                       static_cast<int>(sum[2] / pixels)};
  int spread = 0;
  for (std::size_t i = 0; i < bgr.size(); ++i) spread = std::max(spread, std::abs(bgr[i] - mean[i % 3]));
  return {mean[2], mean[1], mean[0], spread};
}

class FlatFields : public FrameCapture {
 protected:
  // The processing under which a flat field shows its own colour (see vcam/qrvcam.h).
  void SetUp() override {
    FrameCapture::SetUp();
    select(2, 0);
    for (auto setting :
         {QRSetAGCMode(0), QRSetAWBEn(0), QRSetGain(64), QRSetShutter(256), QRSetGamma(0), QRSetBLCEn(0),
          QRSetChromaSat(125), QRSetRedBal(qrvcam::kNeutralRedBalance), QRSetBlueBal(qrvcam::kNeutralBlueBalance)}) {
      ASSERT_EQ(1, setting);
    }
  }
  MeanColour picture() { return meanColour(read(destinationBytes(2, 0))); }
};

TEST_F(FlatFields, EachFlatFieldDecodesToItsColourAndGainScalesIt) {
  struct Case {
    LONG scene;
    int r, g, b;
  };
  const Case cases[] = {{VCAM_SCENE_FLAT_GREY, 128, 128, 128}, {VCAM_SCENE_FLAT_WHITE, 200, 200, 200},
                        {VCAM_SCENE_FLAT_RED, 180, 40, 40},    {VCAM_SCENE_FLAT_GREEN, 40, 180, 40},
                        {VCAM_SCENE_FLAT_BLUE, 40, 40, 180},   {VCAM_SCENE_FLAT_BLACK, 0, 0, 0}};
  constexpr int kTolerance = 4;  // colour conversions both ways and the JPEG steps
  for (const Case& c : cases) {
    SCOPED_TRACE("scene " + std::to_string(c.scene));
    ASSERT_EQ(1, VCamSetScene(c.scene));
    const MeanColour got = picture();
    EXPECT_NEAR(c.r, got.r, kTolerance);
    EXPECT_NEAR(c.g, got.g, kTolerance);
    EXPECT_NEAR(c.b, got.b, kTolerance);
    EXPECT_LE(got.spread, 2) << "one colour all over";
  }
  ASSERT_EQ(1, VCamSetScene(VCAM_SCENE_FLAT_GREY));
  ASSERT_EQ(1, QRSetGain(128));  // (128 + 64) / 128: x 1.5
  const MeanColour brighter = picture();
  EXPECT_NEAR(192, brighter.r, kTolerance);
  EXPECT_NEAR(192, brighter.g, kTolerance);
  EXPECT_NEAR(192, brighter.b, kTolerance);
}

TEST_F(FlatFields, WhiteBalanceTurnsTheWarmGreyFieldGrey) {
  ASSERT_EQ(1, VCamSetScene(VCAM_SCENE_FLAT_GREY));
  ASSERT_EQ(1, QRSetRedBal(125));
  ASSERT_EQ(1, QRSetBlueBal(125));
  const MeanColour warm = picture();
  EXPECT_GT(warm.r, warm.b + 15) << "the room's warm light";
  ASSERT_EQ(1, QRSetAWBEn(1));
  for (int frame = 0; frame < 40; ++frame) picture();
  const MeanColour balanced = picture();
  EXPECT_NEAR(balanced.g, balanced.r, 6) << "within the 3 % the camera's white balance leaves";
  EXPECT_NEAR(balanced.g, balanced.b, 6) << "within the 3 % the camera's white balance leaves";
  EXPECT_LT(QRGetRedBal(), 125);
  EXPECT_GT(QRGetBlueBal(), 125);
}

TEST_F(FrameCapture, TheLandscapeIsStillAndNotTheTestPattern) {
  select(1, 0);
  const Bytes pattern = read(destinationBytes(1, 0));
  ASSERT_EQ(1, VCamSetScene(VCAM_SCENE_LANDSCAPE));
  ASSERT_EQ(1, QRSetAGCMode(0));  // nothing in the camera moves between the two frames
  ASSERT_EQ(1, QRSetAWBEn(0));
  const Bytes first = read(destinationBytes(1, 0));
  const Bytes second = read(destinationBytes(1, 0));
  EXPECT_TRUE(first == second) << "a still scene";
  EXPECT_GT(meanDifference(first, pattern, 0), 10 * kJpegError);
  qrvcam::SceneRegisters regs = cameraRegisters();
  Bytes want(destinationBytes(1, 0));
  Bytes frame(qrjpeg::kFrameBufferBytes);
  ASSERT_TRUE(qrvcam::renderPicture(regs, 0, frame.data(), nullptr, qrvcam::kSceneLandscape));
  ASSERT_TRUE(qrjpeg::ConvertFrame(0, frame.data(), frame.size(), 320, 240, want.data(), want.size()));
  EXPECT_LT(meanDifference(first, want, 0), kJpegError);
}

// Holds "QR3IO" until released: on another thread of this process, or in another process.
class MutexHolder {
 public:
  explicit MutexHolder(bool otherProcess) {
    if (otherProcess) {
      peer_.reset(new qrtest::ChildProcess("camlib_peer.exe", std::string("hold-mutex ") + kReady + " " + kRelease));
      EXPECT_TRUE(peer_->started());
      EXPECT_TRUE(ready_.waitFor(30000)) << "the peer did not take the mutex";
      return;
    }
    thread_.reset(new qrtest::TestThread([this] {
      HANDLE mutex = CreateMutexA(nullptr, FALSE, "QR3IO");
      WaitForSingleObject(mutex, INFINITE);
      ready_.set();
      release_.waitFor(60000);
      ReleaseMutex(mutex);
      CloseHandle(mutex);
    }));
    EXPECT_TRUE(ready_.waitFor(30000));
  }
  ~MutexHolder() {
    release_.set();
    thread_.reset();
    if (peer_) {
      EXPECT_EQ(0, peer_->wait());
    }
  }

 private:
  static constexpr const char* kReady = "qrcamlib-frame-test-mutex-held";
  static constexpr const char* kRelease = "qrcamlib-frame-test-mutex-release";
  qrtest::NamedEvent ready_{kReady};
  qrtest::NamedEvent release_{kRelease};
  std::unique_ptr<qrtest::TestThread> thread_;
  std::unique_ptr<qrtest::ChildProcess> peer_;
};

TEST_F(FrameCapture, WithoutTheMutexWithin3SecondsTheOldPictureIsConvertedAgain) {
  struct Case {
    int resolution;
    bool otherProcess;
  };
  for (const Case& c : {Case{2, false}, Case{5, false}, Case{1, true}}) {
    SCOPED_TRACE("resolution " + std::to_string(c.resolution) +
                 (c.otherProcess ? ", another process" : ", another thread"));
    select(c.resolution, 0);
    const std::size_t bytes = destinationBytes(c.resolution, 0);
    const Bytes before = read(bytes);
    const DWORD frames = framesDelivered();
    MutexHolder holder(c.otherProcess);
    const DWORD start = GetTickCount();
    const Bytes during = read(bytes);
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 2900u);
    EXPECT_LT(waited, 10000u);
    EXPECT_EQ(frames, framesDelivered()) << "nothing fetched";
    EXPECT_TRUE(before == during) << "the previous picture, unchanged";
  }
}

// Another process holds "QR3IO" through a resolution change and the next read. The change is
// stored all the same, so the read fills exactly the smaller size the caller asked for (not the
// 921,600 bytes of the 640 x 480 picture still in the frame buffer); the camera gets the capture
// size at the first read that has the mutex again, and that read's frame has it.
TEST_F(FrameCapture, ATimedOutResolutionChangeNeverLetsAReadWritePastTheSizeAskedFor) {
  select(0, 0);
  read(destinationBytes(0, 0));
  {
    MutexHolder holder(true);
    EXPECT_EQ(1, QRSetResolution(2));
    EXPECT_EQ(2, QRGetResolution());
    EXPECT_EQ(640u, qrtest::cameraRegister(0, 27)) << "the camera could not be reprogrammed yet";
    read(destinationBytes(2, 0), destinationBytes(0, 0));
  }
  qrvcam::SceneRegisters regs = cameraRegisters();
  regs.reg[qrvcam::kRegCaptureWidth] = 160;
  regs.reg[qrvcam::kRegCaptureHeight] = 120;
  const DWORD frameNumber = framesDelivered();
  const Bytes got = read(destinationBytes(2, 0));
  EXPECT_EQ(160u, qrtest::cameraRegister(0, 27));
  EXPECT_EQ(120u, qrtest::cameraRegister(0, 28));
  EXPECT_LT(meanDifference(got, expectedOutput(regs, frameNumber, 2, 0), 0), kJpegError);
}

// The same at acquisition: with the mutex held elsewhere, the start-up resolution and format are
// stored but not sent, and the first read that has the mutex sends the capture size and asks for
// compressed frames before it fetches.
TEST_F(FrameCapture, AnAcquisitionWithoutTheMutexProgramsTheCaptureAtTheFirstRead) {
  select(0, 0);
  QRReleaseLib();
  {
    MutexHolder holder(true);
    ASSERT_EQ(1, QRAcquireLib());
    EXPECT_EQ(2, QRGetResolution());
    EXPECT_EQ(0, QRGetOutputFormat());
    EXPECT_EQ(640u, qrtest::cameraRegister(0, 27));
    EXPECT_EQ(0u, qrtest::cameraRegister(0, 10)) << "raw frames, as the start-up left them";
  }
  qrvcam::SceneRegisters regs = cameraRegisters();
  regs.reg[qrvcam::kRegCaptureWidth] = 160;
  regs.reg[qrvcam::kRegCaptureHeight] = 120;
  regs.reg[qrvcam::kRegFrameKind] = qrvcam::kFrameKindCompressed;
  const DWORD frameNumber = framesDelivered();
  const Bytes got = read(destinationBytes(2, 0));
  EXPECT_EQ(160u, qrtest::cameraRegister(0, 27));
  EXPECT_EQ(0x10u, qrtest::cameraRegister(0, 10));
  EXPECT_LT(meanDifference(got, expectedOutput(regs, frameNumber, 2, 0), 0), kJpegError);
}

// With no input bits every block decodes alike: a featureless picture of identical 16 x 8 tiles.
bool everyTileAlike(const Bytes& packed, int width, int height) {
  const std::size_t stride = static_cast<std::size_t>(width) * 2;
  for (int y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < stride; ++x) {
      if (packed[y * stride + x] != packed[(y % 8) * stride + x % 32]) return false;
    }
  }
  return true;
}

TEST_F(FrameCapture, AVanishedCameraGivesAFlatPictureReportedAsGoneAndTheCameraBackGivesItsPicture) {
  select(2, 4);
  Bytes got, want;
  readWithReference(2, 4, got, want);
  ASSERT_FALSE(everyTileAlike(got, 160, 120));
  LONG error = -1;
  ASSERT_EQ(1, QRGetQuorelInfo(4, &error));
  EXPECT_EQ(0, error);
  ASSERT_EQ(1, VCamSetGone(0, 1));
  EXPECT_TRUE(everyTileAlike(read(destinationBytes(2, 4), kGuardBytes, QR_ERROR_CAMERA_LOST), 160, 120));
  // Selector 4 tells it too, until the next acquisition.
  ASSERT_EQ(1, QRGetQuorelInfo(4, &error));
  EXPECT_EQ(QR_ERROR_CAMERA_LOST, error);
  ASSERT_EQ(1, VCamSetGone(0, 0));
  readWithReference(2, 4, got, want);
  EXPECT_LT(meanDifference(got, want, 4), kJpegError);
  // A new acquisition starts with no error.
  QRReleaseLib();
  ASSERT_EQ(1, QRAcquireLib());
  ASSERT_EQ(1, QRGetQuorelInfo(4, &error));
  EXPECT_EQ(0, error);
}

TEST_F(FrameCapture, WithNoCameraAcquiredNothingIsWritten) {
  QRReleaseLib();
  Bytes buffer(640 * 480 * 3, kUnwritten);
  EXPECT_EQ(0, QRVideoFrameRead(buffer.data()));
  EXPECT_EQ(Bytes(640 * 480 * 3, kUnwritten), buffer);
  EXPECT_EQ(0, QRVideoFrameRead(nullptr));
  EXPECT_EQ(1, QRGrabFrame());
}

TEST_F(FrameCapture, ANullDestinationStillFetchesButWritesNothing) {
  select(2, 0);
  const DWORD frames = framesDelivered();
  EXPECT_EQ(0, QRVideoFrameRead(nullptr));
  EXPECT_EQ(frames + 1, framesDelivered());
}

// A stream the camera would send for these registers (the scene picture at frame `frame`).
Bytes cameraStream(qrvcam::SceneRegisters regs, int width, int height, std::uint32_t frame) {
  regs.reg[qrvcam::kRegCaptureWidth] = static_cast<std::uint16_t>(width);
  regs.reg[qrvcam::kRegCaptureHeight] = static_cast<std::uint16_t>(height);
  regs.reg[qrvcam::kRegFrameKind] = qrvcam::kFrameKindCompressed;
  Bytes stream(qrvcam::renderFrame(regs, frame, nullptr, 0, nullptr));
  qrvcam::renderFrame(regs, frame, stream.data(), stream.size(), nullptr);
  return stream;
}

std::size_t markerAt(const Bytes& stream, std::uint8_t marker) {
  for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] == marker) return i;
  }
  return 0;
}

TEST_F(FrameCapture, AReplayedFrameIsDecodedAsTheCameraWouldShowIt) {
  select(1, 4);
  qrvcam::SceneRegisters regs = cameraRegisters();
  regs.reg[qrvcam::kRegMirror] = 1;  // a picture the live camera is not showing now
  replay("mirrored.jpg", cameraStream(regs, 320, 240, 7));
  const Bytes got = read(destinationBytes(1, 4));
  regs.reg[qrvcam::kRegCaptureWidth] = 320;
  regs.reg[qrvcam::kRegCaptureHeight] = 240;
  EXPECT_LT(meanDifference(got, expectedOutput(regs, 7, 1, 4), 4), kJpegError);
}

TEST_F(FrameCapture, BrokenStreamsNeverWritePastTheBuffersAndRefusedOnesKeepThePicture) {
  const qrvcam::SceneRegisters live = cameraRegisters();
  const Bytes good = cameraStream(live, 640, 480, 3);
  const std::size_t sof = markerAt(good, 0xC0);
  ASSERT_NE(0u, sof);

  Bytes tooLarge = good;  // 2,000 x 2,000 would not fit the frame buffer
  tooLarge[sof + 5] = tooLarge[sof + 7] = 2000 >> 8;
  tooLarge[sof + 6] = tooLarge[sof + 8] = 2000 & 0xFF;
  Bytes wrongSampling = good;  // luminance 2 x 2: not the camera's layout
  wrongSampling[sof + 11] = 0x22;
  Bytes withHuffmanTable = good;
  withHuffmanTable[markerAt(good, 0xDB) + 1] = 0xC4;
  Bytes garbage(5000);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>((i * 7919u) >> 3);
  garbage[0] = 0xFF;
  garbage[1] = 0xD8;
  Bytes manyFF(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(markerAt(good, 0xDA) + 14));
  manyFF.resize(manyFF.size() + 3000, 0xFF);
  const Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 3));
  const Bytes headerOnly(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(markerAt(good, 0xDA) + 14));

  struct Case {
    const char* name;
    const Bytes* stream;
    bool keepsPicture;  // refused: the frame buffer is left as it was
  };
  const Bytes empty;
  const Case cases[] = {
      {"too-large", &tooLarge, true},
      {"wrong-sampling", &wrongSampling, true},
      {"huffman-table", &withHuffmanTable, false},
      {"garbage", &garbage, false},
      {"many-ff", &manyFF, false},
      {"truncated", &truncated, false},
      {"header-only", &headerOnly, false},
      {"empty", &empty, false},
  };
  for (int resolution : {0, 5, 6}) {
    for (int format = 0; format < 6; ++format) {
      select(resolution, format);
      const std::size_t bytes = destinationBytes(resolution, format);
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " resolution " + std::to_string(resolution) + " format " +
                     std::to_string(format));
        const Bytes before = read(bytes);
        replay(c.name, *c.stream);
        const Bytes after = read(bytes);
        if (c.keepsPicture) {
          EXPECT_TRUE(before == after);
        }
      }
    }
  }
}

TEST_F(FrameCapture, ATruncatedStreamKeepsTheRowsThatArrived) {
  select(0, 4);
  const Bytes good = cameraStream(cameraRegisters(), 640, 480, 11);
  replay("whole.jpg", good);
  const Bytes whole = read(destinationBytes(0, 4));
  replay("truncated.jpg", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)));
  const Bytes half = read(destinationBytes(0, 4));
  const std::size_t topRows = 640 * 2 * 64;  // the first 64 rows lie well inside the first half
  EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + topRows, half.begin()));
  EXPECT_FALSE(whole == half);
}

TEST_F(FrameCapture, AutomaticControlsMoveTheCameraRegistersBetweenFrames) {
  select(2, 0);
  ASSERT_EQ(1, QRSetAGCMode(1));
  ASSERT_EQ(1, QRSetGain(0));  // dark: automatic exposure raises the gain
  ASSERT_EQ(1, QRSetShutter(128));
  for (LONG awb : {1, 0}) {
    SCOPED_TRACE("white balance " + std::to_string(awb));
    ASSERT_EQ(1, QRSetAWBEn(awb));
    ASSERT_EQ(1, QRSetRedBal(125));
    ASSERT_EQ(1, QRSetBlueBal(125));
    const DWORD gain = qrtest::cameraRegister(0, 5);
    qrvcam::SceneFeedback moved;
    Bytes picture(160 * 120 * 2);
    ASSERT_TRUE(qrvcam::renderPicture(cameraRegisters(), framesDelivered(), picture.data(), &moved));
    read(destinationBytes(2, 0));
    EXPECT_EQ(gain + 2, qrtest::cameraRegister(0, 5));
    bool balanceMoved = false;
    for (int i = 0; i < moved.count; ++i) {
      EXPECT_EQ(moved.moved[i].value, qrtest::cameraRegister(0, moved.moved[i].reg)) << int(moved.moved[i].reg);
      balanceMoved |= moved.moved[i].reg == 26 || moved.moved[i].reg == 4;
    }
    EXPECT_EQ(awb != 0, balanceMoved);
    if (!awb) {
      EXPECT_EQ(125u, qrtest::cameraRegister(0, 26));
      EXPECT_EQ(125u, qrtest::cameraRegister(0, 4));
    }
  }
}

}  // namespace

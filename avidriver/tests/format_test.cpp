// DVM_FORMAT and DVM_PALETTE with every flag row, the header of each format, the 36 accepted
// formats, and the pixels a client receives in each of the six colour formats.
#include <windows.h>

#include <string>

#include "driver_fixture.h"
#include "frame_reference.h"
#include "qrcamlib.h"
#include "quorelreg.h"

namespace {

using avitest::CaptureDriver;
using namespace avi;

constexpr DWORD kI420 = 0x30323449, kYuy2 = 0x32595559, kYvu9 = 0x39555659;

struct Layout {
  DWORD compression;
  WORD bitCount;
  LONG formatCode;
};
const Layout kLayouts[] = {{BI_RGB, 24, 0}, {BI_RGB, 8, 1}, {BI_RGB, 16, 2},
                           {kI420, 12, 3},  {kYuy2, 16, 4}, {kYvu9, 9, 5}};
struct Size {
  LONG width, height, resolutionCode;
};
const Size kSizes[] = {{640, 480, 0}, {320, 240, 1}, {160, 120, 2}, {352, 288, 3}, {176, 144, 4}, {120, 96, 6}};

class Formats : public CaptureDriver {
 protected:
  void SetUp() override {
    CaptureDriver::SetUp();
    // Still registers: no automatic exposure or white balance moving them between frames.
    storeProfile({{"ASC Enable", 0}, {"AWB Tracking", 0}});
    video_ = openWithCamera(kVideoIn);
    ASSERT_NE(nullptr, video_);
  }
  LRESULT configure(UINT message, DWORD flags, void* data, DWORD size, DWORD* answer = nullptr) {
    DWORD ignored = 0;
    VideoConfigParms parms{answer ? answer : &ignored, data, size, nullptr, 0};
    return send(video_, message, flags, reinterpret_cast<LPARAM>(&parms));
  }
  HDRVR video_ = nullptr;
};

TEST_F(Formats, EveryAcceptedFormatGivesItsHeaderStrideAndSize) {
  for (const Size& size : kSizes) {
    for (const Layout& layout : kLayouts) {
      SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + " format " +
                   std::to_string(layout.formatCode));
      ASSERT_EQ(0, setFormat(video_, size.width, size.height, layout.compression, layout.bitCount));
      const BITMAPINFOHEADER h = getFormat(video_);
      EXPECT_EQ(40u, h.biSize);
      EXPECT_EQ(size.width, h.biWidth);
      EXPECT_EQ(size.height, h.biHeight);
      EXPECT_EQ(1, h.biPlanes);
      EXPECT_EQ(layout.bitCount, h.biBitCount);
      EXPECT_EQ(layout.compression, h.biCompression);
      const DWORD stride = ((layout.bitCount * size.width + 31) & ~31u) / 8;
      EXPECT_EQ(stride * size.height, h.biSizeImage);
      EXPECT_EQ(0, h.biXPelsPerMeter | h.biYPelsPerMeter);
      EXPECT_EQ(0u, h.biClrUsed | h.biClrImportant);
      // The codes are stored with the profile on the client's save request.
      ASSERT_EQ(0, send(video_, kDvmConfigureStorage, 0, kConfigureStorageSet));
      EXPECT_EQ(size.resolutionCode, ExtRegGetVal("AVI", "UserProfile1", "Resolution"));
      EXPECT_EQ(layout.formatCode, ExtRegGetVal("AVI", "UserProfile1", "Format"));
    }
  }
}

TEST_F(Formats, TheSizesOfTheExamples) {
  struct Case {
    LONG width, height;
    DWORD compression;
    WORD bits;
    DWORD size;
  };
  const Case cases[] = {{320, 240, BI_RGB, 24, 230400},
                        {160, 120, kI420, 12, 28800},
                        {176, 144, kYvu9, 9, 28800},
                        {160, 120, kYvu9, 9, 21600}};
  for (const Case& c : cases) {
    ASSERT_EQ(0, setFormat(video_, c.width, c.height, c.compression, c.bits));
    EXPECT_EQ(c.size, getFormat(video_).biSizeImage) << c.width << "x" << c.height << " " << c.bits;
  }
}

TEST_F(Formats, AFormatSetIsRefusedWithItsCodeAndChangesNothing) {
  ASSERT_EQ(0, setFormat(video_, 176, 144, kYuy2, 16));
  struct Case {
    LONG width, height;
    DWORD compression;
    WORD bits, planes;
    LRESULT result;
  };
  const Case cases[] = {
      {320, 200, BI_RGB, 24, 1, DV_ERR_BADFORMAT}, {320, 240, BI_RGB, 32, 1, DV_ERR_BADFORMAT},
      {320, 240, BI_RGB, 24, 2, DV_ERR_BADFORMAT}, {320, 240, kYuy2, 12, 1, DV_ERR_BADFORMAT},
      {320, 240, kI420, 16, 1, DV_ERR_BADFORMAT},  {128, 96, BI_RGB, 24, 1, DV_ERR_BADFORMAT},
      {320, 240, kYvu9, 12, 1, DV_ERR_BADFORMAT},  {240, 320, BI_RGB, 24, 1, DV_ERR_BADFORMAT},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, setFormat(video_, c.width, c.height, c.compression, c.bits, c.planes))
        << c.width << "x" << c.height << " bits " << c.bits << " planes " << c.planes;
  }
  EXPECT_EQ(0, setFormat(video_, 320, 240, kI420, 12));
  ASSERT_EQ(0, setFormat(video_, 176, 144, kYuy2, 16));

  BITMAPINFOHEADER header{};
  header.biSize = 44;
  header.biWidth = 320;
  header.biHeight = 240;
  header.biPlanes = 1;
  header.biBitCount = 24;
  BYTE bigger[44] = {};
  CopyMemory(bigger, &header, sizeof header);
  EXPECT_EQ(DV_ERR_PARAM2, configure(DVM_FORMAT, VIDEO_CONFIGURE_SET, bigger, 44));
  header.biSize = 40;
  EXPECT_EQ(DV_ERR_SIZEFIELD, configure(DVM_FORMAT, VIDEO_CONFIGURE_SET, &header, 39));
  EXPECT_EQ(DV_ERR_SIZEFIELD, configure(DVM_FORMAT, VIDEO_CONFIGURE_GET, &header, 39));
  // Only the low 16 bits of the size count.
  EXPECT_EQ(DV_ERR_SIZEFIELD, configure(DVM_FORMAT, VIDEO_CONFIGURE_SET, &header, 0x10000 + 20));
  const BITMAPINFOHEADER now = getFormat(video_);
  EXPECT_EQ(176, now.biWidth);
  EXPECT_EQ(kYuy2, now.biCompression);
}

TEST_F(Formats, EveryFormatFlagRowAnswersAsItsTableSays) {
  BITMAPINFOHEADER header = getFormat(video_);
  struct Case {
    DWORD flags;
    LRESULT result;
    DWORD answer;  // *lpdwReturn, 0 when not written
  };
  const Case cases[] = {{0x0001, 0, 40}, {0x2001, 0, 40}, {0x1000, 0, 0},  {0x1010, 0, 0},  {0x2000, 0, 0},
                        {0x2010, 0, 0},  {0x9000, 0, 0},  {0xA000, 0, 0},  {0x0000, 17, 0}, {0x1001, 17, 0},
                        {0x8000, 17, 0}, {0x2020, 17, 0}, {0x1020, 17, 0}, {0xA001, 17, 0}, {0x3000, 17, 0}};
  for (const Case& c : cases) {
    DWORD answer = 0;
    BITMAPINFOHEADER copy = header;
    EXPECT_EQ(c.result, configure(DVM_FORMAT, c.flags, &copy, sizeof copy, &answer)) << std::hex << c.flags;
    EXPECT_EQ(c.answer, answer) << std::hex << c.flags;
  }
}

TEST_F(Formats, EveryPaletteFlagRowAnswersAsItsTableSaysAndTheGetGivesTheGreyRamp) {
  BYTE palette[1100];
  struct Case {
    DWORD flags;
    void* data;
    DWORD size;
    LRESULT result;
    DWORD answer;
  };
  const Case cases[] = {
      {0x0001, palette, 1028, 0, 1028}, {0x2001, palette, 1028, 0, 1028}, {0x1000, palette, 1028, 17, 0},
      {0x1010, palette, 1028, 17, 0},   {0x1000, nullptr, 1028, 11, 0},   {0x1010, nullptr, 1028, 11, 0},
      {0x2000, palette, 1024, 10, 0},   {0x2010, palette, 1027, 10, 0},   {0x2000, palette, 0x10000 + 4, 10, 0},
      {0xA000, palette, 1028, 0, 0},    {0x9000, palette, 1028, 17, 0},   {0x0000, palette, 1028, 17, 0},
      {0x4000, palette, 1028, 17, 0}};
  for (const Case& c : cases) {
    DWORD answer = 0;
    EXPECT_EQ(c.result, configure(DVM_PALETTE, c.flags, c.data, c.size, &answer)) << std::hex << c.flags;
    EXPECT_EQ(c.answer, answer) << std::hex << c.flags;
  }
  for (DWORD flags : {0x2000u, 0x2010u}) {
    FillMemory(palette, sizeof palette, 0xEE);
    ASSERT_EQ(0, configure(DVM_PALETTE, flags, palette, 1028));
    EXPECT_EQ(0x300, palette[0] | palette[1] << 8);
    EXPECT_EQ(256, palette[2] | palette[3] << 8);
    for (int i = 0; i < 256; ++i) {
      const BYTE* e = palette + 4 + 4 * i;
      ASSERT_TRUE(e[0] == i && e[1] == i && e[2] == i && e[3] == 0) << "entry " << i;
    }
    EXPECT_EQ(0xEE, palette[1028]);
  }
  EXPECT_EQ(DV_ERR_NOTSUPPORTED, send(video_, DVM_PALETTERGB555, 0, 0));
}

TEST_F(CaptureDriver, AStoredResolution5GivesA160x120HeaderAndIsStoredAs2AfterAGet) {
  storeProfile({{"Resolution", 5}, {"Format", 9}});
  HDRVR video = openWithCamera(kVideoIn);
  ASSERT_NE(nullptr, video);
  const BITMAPINFOHEADER h = getFormat(video);
  EXPECT_EQ(160, h.biWidth);
  EXPECT_EQ(120, h.biHeight);
  EXPECT_EQ(8, h.biBitCount);  // an unknown format code is laid out as grey
  ASSERT_EQ(0, send(video, kDvmConfigureStorage, 0, kConfigureStorageSet));
  EXPECT_EQ(2, ExtRegGetVal("AVI", "UserProfile1", "Resolution"));
  EXPECT_EQ(1, ExtRegGetVal("AVI", "UserProfile1", "Format"));
}

TEST_F(Formats, RgbIsReadWithTheCameraInvertedAndYuvNotUnlessFlipped) {
  struct Case {
    LONG flip;
    DWORD compression;
    WORD bits;
    LONG invert;
  };
  const Case cases[] = {{0, BI_RGB, 24, 1}, {0, kYuy2, 16, 0}, {0, BI_RGB, 8, 1},  {0, kI420, 12, 0},
                        {1, BI_RGB, 24, 0}, {1, kYuy2, 16, 1}, {1, BI_RGB, 16, 0}, {1, kYvu9, 9, 1}};
  avitest::Buffers buffers(1, 640 * 480 * 3);
  for (const Case& c : cases) {
    close(video_);
    storeProfile({{"Flip Preview", c.flip}, {"ASC Enable", 0}, {"AWB Tracking", 0}});
    video_ = open(kVideoIn);
    ASSERT_NE(nullptr, video_);
    ASSERT_EQ(0, setFormat(video_, 320, 240, c.compression, c.bits));
    ASSERT_EQ(0, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
    EXPECT_EQ(c.invert, QRGetInvertEn()) << "flip " << c.flip << " bits " << c.bits;
  }
}

// The scene picture within the camera library's own JPEG error, in exactly the image size.
TEST_F(Formats, ADeliveredFrameCarriesTheScenePictureInEachOfTheSixFormats) {
  for (const Layout& layout : kLayouts) {
    SCOPED_TRACE("format " + std::to_string(layout.formatCode));
    ASSERT_EQ(0, setFormat(video_, 320, 240, layout.compression, layout.bitCount));
    const DWORD size = getFormat(video_).biSizeImage;
    avitest::Buffers buffers(1, size);
    // The first frame sets the camera up for the format; the second is compared.
    ASSERT_EQ(0, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
    const qrvcam::SceneRegisters regs = camlibtest::cameraRegisters();
    const DWORD frameNumber = camlibtest::framesDelivered();
    buffers[0]->dwFlags = VHDR_PREPARED;
    ASSERT_EQ(0, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
    EXPECT_EQ(size, buffers[0]->dwBytesUsed);
    EXPECT_EQ(static_cast<DWORD>(VHDR_DONE | VHDR_KEYFRAME | VHDR_PREPARED), buffers[0]->dwFlags);
    EXPECT_EQ(0u, buffers.damagedGuardBytes(0));
    const camlibtest::Bytes got(buffers.data(0), buffers.data(0) + size);
    const camlibtest::Bytes want = camlibtest::expectedOutput(regs, frameNumber, 1, layout.formatCode);
    EXPECT_LT(camlibtest::meanDifference(got, want, layout.formatCode), 3.0);
  }
}

// At every size the header's rows are the rows the camera library writes: the frame fills exactly
// the image size and carries the scene at that size.
TEST_F(Formats, AtEverySizeTheHeaderSizeIsTheDeliveredPicture) {
  for (const Size& s : kSizes) {
    for (const Layout& layout : {kLayouts[0], kLayouts[3]}) {
      SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height) + " format " +
                   std::to_string(layout.formatCode));
      ASSERT_EQ(0, setFormat(video_, s.width, s.height, layout.compression, layout.bitCount));
      const BITMAPINFOHEADER h = getFormat(video_);
      avitest::Buffers buffers(1, h.biSizeImage);
      ASSERT_EQ(0, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
      const qrvcam::SceneRegisters regs = camlibtest::cameraRegisters();
      const DWORD frameNumber = camlibtest::framesDelivered();
      buffers[0]->dwFlags = VHDR_PREPARED;
      ASSERT_EQ(0, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
      const camlibtest::Bytes want = camlibtest::expectedOutput(regs, frameNumber, s.resolutionCode, layout.formatCode);
      ASSERT_EQ(want.size(), h.biSizeImage);
      const camlibtest::Bytes got(buffers.data(0), buffers.data(0) + h.biSizeImage);
      EXPECT_LT(camlibtest::meanDifference(got, want, layout.formatCode), 3.0);
    }
  }
}

TEST_F(Formats, ASingleFrameRefusesAShortBufferAndWithoutACameraLeavesTheHeaderAlone) {
  ASSERT_EQ(0, setFormat(video_, 320, 240, BI_RGB, 24));
  avitest::Buffers buffers(1, 230400 - 1);
  EXPECT_EQ(DV_ERR_SIZEFIELD, send(video_, kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), sizeof(VIDEOHDR)));
  EXPECT_EQ(0u, buffers[0]->dwBytesUsed);
  EXPECT_EQ(0u, buffers.damagedGuardBytes(0));
  EXPECT_EQ(DV_ERR_PARAM1, send(video_, kDvmFrame, 0, 0));
  EXPECT_EQ(DV_ERR_NOTSUPPORTED, send(open(kVideoExternalIn), kDvmFrame, reinterpret_cast<LPARAM>(buffers[0]), 0));
}

}  // namespace

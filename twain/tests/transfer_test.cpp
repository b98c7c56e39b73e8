// Frame grabs and the native and memory transfers.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qrcamlib.h"
#include "qrvcam.h"
#include "source_fixture.h"

namespace twaintest {
namespace {

// A packed bitmap as a native transfer hands it over.
struct Dib {
  LONG width = 0, height = 0;
  WORD bits = 0;
  std::vector<BYTE> rows;  // bottom-up, as stored
};

Dib readDib(HGLOBAL handle) {
  Dib dib;
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(handle));
  EXPECT_NE(nullptr, header);
  if (!header) return dib;
  dib.width = header->biWidth;
  dib.height = header->biHeight;
  dib.bits = header->biBitCount;
  const DWORD colours = header->biBitCount == 8 ? (header->biClrUsed ? header->biClrUsed : 256) : 0;
  const BYTE* pixels = reinterpret_cast<const BYTE*>(header) + header->biSize + 4 * colours;
  const size_t size = static_cast<size_t>(dib.width) * dib.height * dib.bits / 8;
  dib.rows.assign(pixels, pixels + size);
  GlobalUnlock(handle);
  return dib;
}

// The picture as memory transfers deliver it: top row first, red first.
std::vector<BYTE> topDownRedFirst(const Dib& dib) {
  const size_t pixelBytes = dib.bits / 8, rowBytes = pixelBytes * dib.width;
  std::vector<BYTE> out(dib.rows.size());
  for (LONG y = 0; y < dib.height; ++y) {
    const BYTE* in = &dib.rows[(dib.height - 1 - y) * rowBytes];
    BYTE* row = &out[y * rowBytes];
    for (LONG x = 0; x < dib.width; ++x) {
      for (size_t c = 0; c < pixelBytes; ++c) row[x * pixelBytes + c] = in[x * pixelBytes + pixelBytes - 1 - c];
    }
  }
  return out;
}

bool hasDetail(const std::vector<BYTE>& bytes) {
  for (BYTE b : bytes) {
    if (b != bytes.front()) return true;
  }
  return false;
}

class Transfers : public Source {
 protected:
  Transfers() : Source(Route::kManager) {}
  HGLOBAL native() {
    HGLOBAL handle = nullptr;
    EXPECT_EQ(TWRC_XFERDONE, call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
    return handle;
  }
  Dib nativeDib() {
    HGLOBAL handle = native();
    Dib dib = readDib(handle);
    GlobalFree(handle);
    return dib;
  }
  // Memory transfer in strips of `length` bytes; the strips' pixels in order, and the calls it
  // took up to and including the one that returned TWRC_XFERDONE.
  std::vector<BYTE> memoryTransfer(TW_UINT32 length, int& calls, TW_UINT32 width, TW_UINT32 rowBytes) {
    std::vector<BYTE> picture, strip(length);
    calls = 0;
    for (;;) {
      TW_IMAGEMEMXFER xfer;
      std::memset(&xfer, 0x5a, sizeof xfer);
      xfer.Memory = {0, length, strip.data()};
      const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
      ++calls;
      EXPECT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
      EXPECT_EQ(TWCP_NONE, xfer.Compression);
      EXPECT_EQ(rowBytes, xfer.BytesPerRow);
      EXPECT_EQ(width, xfer.Columns);
      EXPECT_EQ(0u, xfer.XOffset);
      EXPECT_EQ(picture.size() / rowBytes, xfer.YOffset);
      EXPECT_EQ(xfer.Rows * rowBytes, xfer.BytesWritten);
      picture.insert(picture.end(), strip.begin(), strip.begin() + xfer.BytesWritten);
      if (rc != TWRC_SUCCESS || calls > 2000) break;
    }
    return picture;
  }
  TW_SETUPMEMXFER setup() {
    TW_SETUPMEMXFER s{};
    EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &s));
    return s;
  }
  TW_UINT16 oneStrip(TW_UINT32 length, void* memory, TW_IMAGEMEMXFER& xfer) {
    std::memset(&xfer, 0x5a, sizeof xfer);
    xfer.Memory = {0, length, memory};
    return call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
  }
};

TEST_F(Transfers, AColourImageInOneRowStripsTakes480CallsAndMatchesTheNativeBitmap) {
  acquire();
  const Dib dib = nativeDib();
  ASSERT_EQ(640, dib.width);
  ASSERT_EQ(480, dib.height);
  ASSERT_EQ(24, dib.bits);
  EXPECT_TRUE(hasDetail(dib.rows));
  int calls = 0;
  const std::vector<BYTE> picture = memoryTransfer(1920, calls, 640, 1920);
  EXPECT_EQ(480, calls);
  EXPECT_TRUE(picture == topDownRedFirst(dib));
  // Finished: the next call ends at once with nothing.
  std::vector<BYTE> strip(1920);
  TW_IMAGEMEMXFER xfer;
  EXPECT_EQ(TWRC_XFERDONE, oneStrip(1920, strip.data(), xfer));
  EXPECT_EQ(0u, xfer.BytesWritten);
}

TEST_F(Transfers, AGreyImageFitsOneCallOfItsPreferredSize) {
  storeProfile(2, 1, 0);
  acquire();
  const TW_SETUPMEMXFER s = setup();
  EXPECT_EQ(160u * 120, s.Preferred);  // 8 bits a pixel
  const Dib dib = nativeDib();
  ASSERT_EQ(8, dib.bits);
  std::vector<BYTE> strip(61440);
  TW_IMAGEMEMXFER xfer;
  ASSERT_EQ(TWRC_XFERDONE, oneStrip(61440, strip.data(), xfer));
  EXPECT_EQ(120u, xfer.Rows);
  EXPECT_EQ(160u, xfer.Columns);
  EXPECT_EQ(19200u, xfer.BytesWritten);
  strip.resize(19200);
  EXPECT_TRUE(strip == topDownRedFirst(dib));
}

TEST_F(Transfers, StripsOfSeveralRowsEndWithAShortOne) {
  storeProfile(1, 0, 0);  // 320 x 240, 960 bytes a row
  acquire();
  const Dib dib = nativeDib();
  int calls = 0;
  const std::vector<BYTE> picture = memoryTransfer(960 * 7 + 100, calls, 320, 960);
  EXPECT_EQ(35, calls);  // 34 strips of 7 rows, then 2
  EXPECT_TRUE(picture == topDownRedFirst(dib));
}

TEST_F(Transfers, RotatedImagesAreDeliveredUpright) {
  for (LONG rotate : {1, 2}) {
    storeProfile(0, 0, rotate);
    acquire();
    const Dib dib = nativeDib();
    EXPECT_EQ(480, dib.width) << rotate;
    EXPECT_EQ(640, dib.height) << rotate;
    int calls = 0;
    const std::vector<BYTE> picture = memoryTransfer(480 * 3 * 640, calls, 480, 1440);
    EXPECT_EQ(1, calls);
    EXPECT_TRUE(picture == topDownRedFirst(dib)) << rotate;
    ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
  }
}

// One pixel (1 or 3 bytes) of packed bottom-up rows, addressed from the top left.
const BYTE* pixelAt(const std::vector<BYTE>& rows, LONG width, LONG height, size_t pixelBytes, LONG x, LONG y) {
  return &rows[(static_cast<size_t>(height - 1 - y) * width + x) * pixelBytes];
}

// Mean difference per byte between the source's picture and a 160 x 120 camera frame turned as
// "Rotate Image" says (1 "Rot Left": the image library's direction 0, clockwise; 2 "Rot Right":
// counter-clockwise), and optionally flipped or mirrored as well.
double meanDifference(const std::vector<BYTE>& frame, const Dib& dib, size_t pixelBytes, LONG rotate, bool flip,
                      bool mirror) {
  double sum = 0;
  for (LONG y = 0; y < dib.height; ++y) {
    for (LONG x = 0; x < dib.width; ++x) {
      LONG fx = rotate == 0 ? x : rotate == 1 ? y : 159 - y;
      LONG fy = rotate == 0 ? y : rotate == 1 ? 119 - x : x;
      if (flip) fy = 119 - fy;
      if (mirror) fx = 159 - fx;
      const BYTE* want = pixelAt(frame, 160, 120, pixelBytes, fx, fy);
      const BYTE* got = pixelAt(dib.rows, dib.width, dib.height, pixelBytes, x, y);
      for (size_t c = 0; c < pixelBytes; ++c) sum += std::abs(want[c] - got[c]);
    }
  }
  return sum / static_cast<double>(dib.rows.size());
}

// The still landscape in front of the camera, read by the camera library itself right after the
// source's grab with the settings the source left (size, format, mirror, flip): the source's
// picture must be that frame, turned as asked, in both transfers.
TEST_F(Transfers, PicturesAreTheCamerasFrameInColourAndGreyTurnedAsAsked) {
  ASSERT_EQ(1, VCamSetScene(VCAM_SCENE_LANDSCAPE));
  for (LONG format : {0, 1}) {
    for (LONG rotate : {0, 1, 2}) {
      SCOPED_TRACE(testing::Message() << "format " << format << " rotate " << rotate);
      storeProfile(2, format, rotate);  // 160 x 120
      acquire();
      const Dib dib = nativeDib();
      const size_t pixelBytes = format == 0 ? 3 : 1;
      int calls = 0;
      const std::vector<BYTE> strips =
          memoryTransfer(dib.rows.size(), calls, dib.width, static_cast<TW_UINT32>(dib.width * pixelBytes));
      EXPECT_TRUE(strips == topDownRedFirst(dib));

      std::vector<BYTE> frame(160 * 120 * pixelBytes);
      ASSERT_EQ(2, QRGetResolution());
      ASSERT_EQ(0, QRVideoFrameRead(frame.data()));
      ASSERT_TRUE(hasDetail(frame));
      ASSERT_EQ(rotate == 0 ? 160 : 120, dib.width);
      ASSERT_EQ(rotate == 0 ? 120 : 160, dib.height);
      // Two frames of the still scene differ a little (the camera's noise): the mean difference
      // is small for the right orientation and large for a flipped or mirrored one.
      EXPECT_LE(meanDifference(frame, dib, pixelBytes, rotate, false, false), 2.5);
      EXPECT_GT(meanDifference(frame, dib, pixelBytes, rotate, true, false), 15.0);
      EXPECT_GT(meanDifference(frame, dib, pixelBytes, rotate, false, true), 15.0);
      ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    }
  }
}

TEST_F(Transfers, TwoNativeTransfersGiveTwoIndependentBitmapsOfOnePicture) {
  acquire();
  HGLOBAL first = native();
  HGLOBAL second = native();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  const Dib one = readDib(first);
  GlobalFree(first);
  const Dib two = readDib(second);
  GlobalFree(second);
  EXPECT_TRUE(one.rows == two.rows);
  EXPECT_EQ(0u, GlobalFlags(second) & GMEM_LOCKCOUNT) << "the handle is handed over unlocked";
}

TEST_F(Transfers, PreferredSizeIsTheWholeImageOnceThereIsOne) {
  openWithCamera();
  TW_SETUPMEMXFER s = setup();
  EXPECT_EQ(1920u, s.MinBufSize);
  EXPECT_EQ(921600u, s.MaxBufSize);
  EXPECT_EQ(61440u, s.Preferred);
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
  storeProfile(5, 0, 0);
  acquire();
  EXPECT_EQ(1280u * 960 * 3, setup().Preferred);  // beyond MaxBufSize: still one buffer
}

TEST_F(Transfers, BadBuffersFailWithoutTouchingMemory) {
  openWithCamera();
  std::vector<BYTE> strip(1920, 0xee);
  TW_IMAGEMEMXFER xfer;
  // No image yet: nothing to read.
  EXPECT_EQ(TWRC_FAILURE, oneStrip(1920, strip.data(), xfer));
  EXPECT_EQ(TWCC_SEQERROR, conditionCode());
  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
  EXPECT_EQ(TWRC_FAILURE, oneStrip(1919, strip.data(), xfer));
  EXPECT_EQ(TWCC_BUMMER, conditionCode());
  EXPECT_EQ(TWRC_FAILURE, oneStrip(0, strip.data(), xfer));
  EXPECT_EQ(TWCC_BUMMER, conditionCode());
  EXPECT_EQ(TWRC_FAILURE, oneStrip(1920, nullptr, xfer));
  EXPECT_EQ(TWCC_BADVALUE, conditionCode());
  EXPECT_EQ(std::vector<BYTE>(1920, 0xee), strip);
  // The failures did not start the transfer: it still begins at the top row.
  EXPECT_EQ(TWRC_SUCCESS, oneStrip(1920, strip.data(), xfer));
  EXPECT_EQ(0u, xfer.YOffset);
}

TEST_F(Transfers, AnUnfinishedTransferEndsAfter1000Calls) {
  acquire();
  BYTE strip[16];
  TW_IMAGEMEMXFER xfer;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(TWRC_FAILURE, oneStrip(sizeof strip, strip, xfer)) << i;
  EXPECT_EQ(TWRC_XFERDONE, oneStrip(sizeof strip, strip, xfer));
  EXPECT_EQ(0u, xfer.BytesWritten);
  // The count starts again.
  EXPECT_EQ(TWRC_FAILURE, oneStrip(sizeof strip, strip, xfer));
}

TEST_F(Transfers, TheNextAcquisitionStartsANewTransfer) {
  storeProfile(2, 0, 0);
  acquire();
  int calls = 0;
  memoryTransfer(57600, calls, 160, 480);
  EXPECT_EQ(1, calls);
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr));
  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
  const std::vector<BYTE> again = memoryTransfer(57600, calls, 160, 480);
  EXPECT_EQ(1, calls);
  EXPECT_EQ(57600u, again.size());
}

}  // namespace
}  // namespace twaintest

// Frame grabs into the source's images, and the native and memory transfers that hand them over.
#include <tmmintrin.h>

#include <cstring>

#include "qrcamlib.h"
#include "twain_source.h"
#include "vic32.h"

namespace twain {

namespace {

constexpr LONG kPortInUse = 0x43;

// One row of blue-first pixels as red-first ones: four pixels a step with SSSE3's byte shuffle
// where the processor has it (the last pixels, and every pixel elsewhere, one at a time). Each
// step stores 16 bytes of which 12 are its own, so it stops while 16 bytes still fit the row.
void swapRow(const BYTE* in, BYTE* out, TW_UINT32 width, TW_UINT32 x) {
  for (; x < width; ++x) {
    out[3 * x] = in[3 * x + 2];
    out[3 * x + 1] = in[3 * x + 1];
    out[3 * x + 2] = in[3 * x];
  }
}

__attribute__((target("ssse3"))) void swapRowSsse3(const BYTE* in, BYTE* out, TW_UINT32 width) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
  TW_UINT32 x = 0;
  for (; 3 * x + 16 <= 3 * width; x += 4) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(pixels, order));
  }
  swapRow(in, out, width, x);
}

bool hasSsse3() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}

void copyRowRedFirst(const BYTE* in, BYTE* out, TW_UINT32 width) {
  if (hasSsse3()) {
    swapRowSsse3(in, out, width);
  } else {
    swapRow(in, out, width, 0);
  }
}

// Only colour and grey images are made; any other stored format leaves the image empty.
bool allocateFrame(ImageDescriptor& image, LONG width, LONG height, LONG format) {
  image = ImageDescriptor{};
  if (format != 0 && format != 1) return false;
  if (allocimage(&image, width, height, format == 0 ? 24 : 8) != 0 || !image.bmh) {
    image = ImageDescriptor{};
    return false;
  }
  return true;
}

}  // namespace

void freeIfHeld(ImageDescriptor& image) {
  if (image.bmh) freeimage(&image);
  image = ImageDescriptor{};
}

void TwainSource::grabPreviewFrame() {
  const LONG sizeIndex = settings_[PROFILE_VALUE(profiles::kTwainLayout, "Resolution")];
  LONG resolution = 2;
  if (sizeIndex == 4) {
    resolution = 4;
  } else if (sizeIndex == 0 || sizeIndex == 1 || sizeIndex == 3 || sizeIndex == 5) {
    resolution = 1;
  }
  const FrameSize size = frameSize(resolution);
  const LONG format = settings_[PROFILE_VALUE(profiles::kTwainLayout, "Format")];
  QRSetResolution(resolution);
  QRSetOutputFormat(format);
  QRSetMirrorEn(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Mirror")]);
  QRSetInvertEn(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Flip")] == 0 ? 1 : 0);
  freeIfHeld(previewImage_);
  if (!allocateFrame(previewImage_, size.width, size.height, format)) return;
  handleReadResult(QRVideoFrameRead(previewImage_.ibuff));
}

void TwainSource::grabFullFrame() {
  const LONG sizeIndex = settings_[PROFILE_VALUE(profiles::kTwainLayout, "Resolution")];
  const FrameSize size = frameSize(sizeIndex);
  const LONG format = settings_[PROFILE_VALUE(profiles::kTwainLayout, "Format")];
  const LONG rotate = settings_[PROFILE_VALUE(profiles::kTwainLayout, "Rotate Image")];
  QRSetResolution(sizeIndex);
  QRSetOutputFormat(format);
  QRSetMirrorEn(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Mirror")]);
  QRSetInvertEn(settings_[PROFILE_VALUE(profiles::kTwainLayout, "Flip")] == 0 ? 1 : 0);
  freeIfHeld(fullImage_);
  freeIfHeld(rotationImage_);
  ImageDescriptor& frame = rotate == 0 ? fullImage_ : rotationImage_;
  if (!allocateFrame(frame, size.width, size.height, format)) {
    fullImage_ = ImageDescriptor{};
    return;
  }
  const LONG result = QRVideoFrameRead(frame.ibuff);
  if (rotate != 0 && allocateFrame(fullImage_, size.height, size.width, format)) {
    rotate90(rotate == 1 ? 0 : 1, &rotationImage_, &fullImage_);
  }
  handleReadResult(result);
}

void TwainSource::handleReadResult(LONG result) {
  if (result == 0) return;
  if (result == kPortInUse) {
    Sleep(500);
    return;
  }
  notifyApplication(MSG_CLOSEDSREQ);
}

void TwainSource::announceImage() {
  state_ = 6;
  transferFinished_ = FALSE;
  firstStrip_ = TRUE;
  // A new image's transfer starts its own count: the calls of an earlier, unfinished one (the
  // source stays loaded between sessions) must not cut it short.
  rowsDelivered_ = 0;
  memoryCalls_ = 0;
  notifyApplication(MSG_XFERREADY);
}

TW_UINT16 TwainSource::setupMemoryTransfer(TW_UINT16 msg, TW_MEMREF data) {
  traceLine("got to setupmem entry\r\n");
  if (!stateIn(4, 6)) return fail(200, TWCC_SEQERROR);
  if (msg != MSG_GET) return fail(201, TWCC_BADPROTOCOL);
  auto* setup = static_cast<TW_SETUPMEMXFER*>(data);
  if (!setup) return fail(202, TWCC_BADVALUE);
  traceLine("got to setupmem msg_get start\r\n");
  setup->MinBufSize = 1920;
  setup->MaxBufSize = 921600;
  // The whole image in one buffer once there is one, even beyond MaxBufSize.
  if (fullImage_.bmh) {
    const vic::BitmapInfoHeader& header = *fullImage_.bmh;
    setup->Preferred =
        static_cast<TW_UINT32>(header.biWidth) * static_cast<TW_UINT32>(header.biHeight) * header.biBitCount / 8;
  } else {
    setup->Preferred = 61440;
  }
  traceLine("got to setupmem msg_get break\r\n");
  traceLine("got to setupmem exit\r\n");
  return TWRC_SUCCESS;
}

TW_UINT16 TwainSource::nativeTransfer(TW_UINT16 msg, TW_MEMREF data) {
  if (!stateIn(6, 7)) return fail(210, TWCC_SEQERROR);
  if (msg != MSG_GET) return fail(211, TWCC_BADPROTOCOL);
  if (!data) return fail(212, TWCC_BADVALUE);
  BYTE* dib = nullptr;
  if (!fullImage_.bmh || imagetodib(&fullImage_, &dib) != 0 || !dib) return fail(213, TWCC_LOWMEMORY);
  HGLOBAL handle = GlobalHandle(dib);
  GlobalUnlock(handle);
  // The application owns the bitmap from here on; the image stays for another transfer.
  *static_cast<TW_HANDLE*>(data) = handle;
  traceLine("function  native transfer MSG_GET is done\r\n");
  return TWRC_XFERDONE;
}

void TwainSource::endMemoryTransfer(TW_IMAGEMEMXFER& xfer) {
  xfer.BytesWritten = 0;
  rowsDelivered_ = 0;
  memoryCalls_ = 0;
}

TW_UINT16 TwainSource::memoryTransfer(TW_UINT16 msg, TW_MEMREF data) {
  traceLine("MemXfer Start\n");
  auto* xfer = static_cast<TW_IMAGEMEMXFER*>(data);
  if (!xfer) return fail(220, TWCC_BADVALUE);
  // An application that never finishes a transfer is stopped after 1000 strips.
  if (++memoryCalls_ > 1000) {
    endMemoryTransfer(*xfer);
    return TWRC_XFERDONE;
  }
  if (msg != MSG_GET) return fail(221, TWCC_BADPROTOCOL);
  if (transferFinished_) {
    endMemoryTransfer(*xfer);
    traceLine("XferDone returned\n");
    return TWRC_XFERDONE;
  }
  // No image (none grabbed yet, or it could not be made): nothing to read from.
  if (!fullImage_.bmh) return fail(222, TWCC_SEQERROR);
  if (firstStrip_) {
    rowsDelivered_ = 0;
    firstStrip_ = FALSE;
  }
  traceLine("MSG_GET\n");
  traceLine("Incremented pointer\n");

  const vic::BitmapInfoHeader& header = *fullImage_.bmh;
  const TW_UINT32 width = static_cast<TW_UINT32>(header.biWidth);
  const TW_UINT32 height = static_cast<TW_UINT32>(header.biHeight);
  const TW_UINT32 pixelBytes = header.biBitCount / 8;
  const TW_UINT32 rowBytes = pixelBytes * width;
  if (xfer->Memory.Length < rowBytes) return fail(223, TWCC_BUMMER);
  if (!xfer->Memory.TheMem) return fail(224, TWCC_BADVALUE);

  xfer->Compression = TWCP_NONE;
  xfer->BytesPerRow = rowBytes;
  xfer->Columns = width;
  xfer->XOffset = 0;
  xfer->YOffset = rowsDelivered_;
  traceLine("Set structure\n");

  const TW_UINT32 fit = xfer->Memory.Length / rowBytes;
  const TW_UINT32 left = height - rowsDelivered_;
  const TW_UINT32 rows = fit < left ? fit : left;
  xfer->Rows = rows;
  xfer->BytesWritten = rows * rowBytes;

  // The image is stored bottom-up with blue first; strips go top row first with red first.
  auto* out = static_cast<BYTE*>(xfer->Memory.TheMem);
  for (TW_UINT32 r = 0; r < rows; ++r) {
    const size_t sourceRow = height - 1 - rowsDelivered_ - r;
    const BYTE* in = fullImage_.ibuff + sourceRow * static_cast<size_t>(fullImage_.buffwidth);
    BYTE* row = out + static_cast<size_t>(r) * rowBytes;
    if (pixelBytes == 3) {
      copyRowRedFirst(in, row, width);
    } else {
      std::memcpy(row, in, rowBytes);
    }
  }
  traceLine("Copied memory\n");

  rowsDelivered_ += rows;
  if (rowsDelivered_ >= height) {
    memoryCalls_ = 0;
    traceLine("XferDone returned\n");
    transferFinished_ = TRUE;
    return TWRC_XFERDONE;
  }
  traceLine("Mem Success\n");
  return TWRC_SUCCESS;
}

}  // namespace twain

// The TWAIN source's cost beside what it is made of, in one run under Wine, through the source
// manager as an application reaches it:
//   - a whole acquisition without the user interface (MSG_ENABLEDS to the end of the native
//     transfer) of a 640 x 480 colour image, beside nine bare QRVideoFrameRead calls of that size;
//   - a memory transfer of that image in 1920-byte strips and in one strip, per byte, beside a
//     memcpy of the image.
// The camera is the virtual one, unpaced; scripts/bench installs the source and plugs it in.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_timing.h"
#include "qrcamlib.h"
#include "twain_session.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr size_t kImageBytes = size_t{kWidth} * kHeight * 3;
constexpr int kRounds = 5;

bool openCamera(twainapp::Session& session) {
  return session.openManager() && session.openSource("") && session.setPixelType(TWPT_RGB) &&
         session.setSize(kWidth, kHeight);
}

// MSG_ENABLEDS to the end of the native transfer, and back to state 4.
double acquisitionMs(twainapp::Session& session) {
  bool ok = true;
  const double ms = qrbench::TimeMs(
      [&](int) {
        TW_IMAGEINFO info{};
        TW_HANDLE dib = session.waitForImage(false) && session.imageInfo(info) ? session.transferNative() : nullptr;
        ok = ok && dib != nullptr;
        if (dib) GlobalFree(dib);
        session.disable();
      },
      kRounds);
  return ok ? ms : -1;
}

// The source's strips alone, once an image is announced, into one buffer the application made
// beforehand; milliseconds per whole image.
double memoryTransferMs(twainapp::Session& session, TW_UINT32 stripBytes) {
  std::vector<BYTE> buffer(stripBytes, 1);
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    if (!session.waitForImage(false)) return -1;
    LARGE_INTEGER t0, t1, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    size_t bytes = 0;
    TW_UINT16 rc;
    do {
      TW_IMAGEMEMXFER xfer;
      rc = session.memoryStrip(buffer.data(), stripBytes, xfer);
      bytes += xfer.BytesWritten;
    } while (rc == TWRC_SUCCESS);
    QueryPerformanceCounter(&t1);
    session.finishTransfer();
    session.disable();
    if (rc != TWRC_XFERDONE || bytes != kImageBytes) return -1;
    best = std::min(best,
                    1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart));
  }
  return best;
}

double nineFrameReadsMs() {
  if (QRAcquireLib() != 1) return -1;
  QRSetResolution(0);
  QRSetOutputFormat(0);
  std::vector<BYTE> frame(kImageBytes);
  bool ok = true;
  const double ms = qrbench::TimeMs(
      [&](int) {
        for (int i = 0; i < 9; ++i) ok = ok && QRVideoFrameRead(frame.data()) == 0;
      },
      kRounds);
  QRReleaseLib();
  return ok ? ms : -1;
}

}  // namespace

int main() {
  double acquisition, strips, oneStrip;
  {
    twainapp::Session session("twain_bench", false);
    if (!openCamera(session)) return 1;
    acquisition = acquisitionMs(session);
    if (!session.setTransferMode(true)) return 1;
    strips = memoryTransferMs(session, 1920);
    oneStrip = memoryTransferMs(session, static_cast<TW_UINT32>(kImageBytes));
  }
  const double reads = nineFrameReadsMs();
  std::vector<BYTE> from(kImageBytes, 0x5a), to(kImageBytes);
  const double copy =
      qrbench::TimeMs([&](int i) { std::memcpy(to.data(), from.data() + (i & 1), kImageBytes - 1); }, 50);
  if (acquisition < 0 || strips < 0 || oneStrip < 0 || reads < 0) {
    std::fprintf(stderr, "twain_bench: a step failed (no camera, or the source is not installed)\n");
    return 1;
  }
  std::printf("TWAIN source, 640 x 480 colour (best of %d rounds), goals: acquisition ratio <= 1.10, transfer <= 3\n",
              kRounds);
  qrbench::Row("acquisition without UI", acquisition, "9 x QRVideoFrameRead", reads);
  qrbench::Row("memory transfer, 1920-byte strips", strips, "memcpy of the image", copy);
  qrbench::Row("memory transfer, one strip", oneStrip, "memcpy of the image", copy);
  return 0;
}

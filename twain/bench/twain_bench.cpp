// The TWAIN source's cost beside what it is made of, in one run under Wine, through the source
// manager as an application reaches it:
//   - a whole acquisition without the user interface (MSG_ENABLEDS to the end of the native
//     transfer) of a 640 x 480 colour image, beside nine bare QRVideoFrameRead calls of that size;
//   - a memory transfer of that image in 1920-byte strips and in one strip, per byte, beside a
//     memcpy of a frame just read from the camera: the source's image is fresh from the frame
//     read too, so both copies start from memory in the same state. A memcpy of an image that
//     is already in the processor's cache (copied over and over) is printed beside it.
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
  std::vector<BYTE> frame(kImageBytes);
  bool ok = true;
  const double ms = qrbench::TimeMs(
      [&](int) {
        for (int i = 0; i < 9; ++i) ok = ok && QRVideoFrameRead(frame.data()) == 0;
      },
      kRounds);
  return ok ? ms : -1;
}

// A memcpy of each frame straight after its read, best of the rounds.
double copyOfFreshFrameMs() {
  std::vector<BYTE> frame(kImageBytes), copy(kImageBytes);
  double best = 1e30;
  LARGE_INTEGER t0, t1, frequency;
  QueryPerformanceFrequency(&frequency);
  for (int round = 0; round < 15; ++round) {
    if (QRVideoFrameRead(frame.data()) != 0) return -1;
    QueryPerformanceCounter(&t0);
    std::memcpy(copy.data(), frame.data(), kImageBytes);
    QueryPerformanceCounter(&t1);
    best = std::min(best,
                    1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart));
  }
  return best;
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
  if (QRAcquireLib() != 1) return 1;
  QRSetResolution(0);
  QRSetOutputFormat(0);
  const double reads = nineFrameReadsMs();
  const double copy = copyOfFreshFrameMs();
  QRReleaseLib();
  std::vector<BYTE> from(kImageBytes, 0x5a), to(kImageBytes);
  const double cachedCopy =
      qrbench::TimeMs([&](int i) { std::memcpy(to.data(), from.data() + (i & 1), kImageBytes - 1); }, 50);
  if (acquisition < 0 || strips < 0 || oneStrip < 0 || reads < 0 || copy < 0) {
    std::fprintf(stderr, "twain_bench: a step failed (no camera, or the source is not installed)\n");
    return 1;
  }
  std::printf("TWAIN source, 640 x 480 colour (best of %d rounds), goals: acquisition ratio <= 1.10, transfer <= 3\n",
              kRounds);
  qrbench::Row("acquisition without UI", acquisition, "9 x QRVideoFrameRead", reads);
  qrbench::Row("memory transfer, 1920-byte strips", strips, "memcpy of a frame just read", copy);
  qrbench::Row("memory transfer, one strip", oneStrip, "memcpy of a frame just read", copy);
  qrbench::Row("memory transfer, one strip", oneStrip, "memcpy of a cached image", cachedCopy);
  return 0;
}

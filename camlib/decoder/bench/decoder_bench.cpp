// Side-by-side timing of the camera frame decoder and converters against libjpeg-turbo (accurate
// integer method) on the same 640 x 480 camera frames, of the decoder with its plain C++ kernels,
// and of each converter against one memcpy of its output.
//
// Built twice. Natively, libjpeg-turbo is timed in this program: with its SIMD code, and in a child
// process with JSIMD_FORCENONE=1 (it reads the variable once per process). In the 32-bit Windows
// build, which times the decoder and converters as qrcamlib.dll links them and runs under Wine,
// there is no libjpeg-turbo: scripts/bench runs the native program with --libjpeg-only in the same
// command and passes its figures as --reference RAW BGR [RAW_PLAIN BGR_PLAIN].
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_timing.h"
#include "camera_streams.h"
#include "jpeg_decoder.h"
#include "vector_kernels.h"
#if QR_BENCH_LIBJPEG
#include "libjpeg_timing.h"
#endif

namespace {

using qrbench::Row;
using qrbench::TimeMs;
using qrtest::Bytes;

constexpr int kWidth = 640, kHeight = 480;

std::vector<Bytes> cameraFrames(bool withTables) {
  std::vector<Bytes> frames;
  for (uint32_t n = 0; n < 8; ++n) {
    Bytes f = qrtest::CameraFrame(kWidth, kHeight, 250, n * 13);
    frames.push_back(withTables ? qrtest::WithHuffmanTables(f) : f);
  }
  return frames;
}

struct Times {
  double raw = 0, bgr = 0;  // ms per frame: libjpeg-turbo to raw planes, to BGR pixels
};

// libjpeg-turbo's figures with and without its SIMD code, and what to call them.
struct Reference {
  bool simd = false, plain = false;
  Times withSimd, withoutSimd;
  const char* name = "libjpeg-turbo";
};

#if QR_BENCH_LIBJPEG
Times timesOf(const qrbench::LibjpegTimes& t) { return Times{t.raw, t.bgr}; }
#endif

// The reference of this run: measured here natively, given on the command line otherwise.
Reference reference(int argc, char** argv, int calls) {
  Reference ref;
#if QR_BENCH_LIBJPEG
  (void)argc;
  ref.withSimd = timesOf(qrbench::TimeLibjpeg(cameraFrames(true), calls));
  ref.simd = true;
  qrbench::LibjpegTimes plain;
  ref.plain = qrbench::TimeLibjpegWithoutSimd(argv[0], plain);
  ref.withoutSimd = timesOf(plain);
#else
  (void)calls;
  ref.name = "native libjpeg-turbo";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reference") != 0) continue;
    if (i + 2 < argc) {
      ref.withSimd = Times{std::atof(argv[i + 1]), std::atof(argv[i + 2])};
      ref.simd = ref.withSimd.raw > 0 && ref.withSimd.bgr > 0;
    }
    if (i + 4 < argc) {
      ref.withoutSimd = Times{std::atof(argv[i + 3]), std::atof(argv[i + 4])};
      ref.plain = ref.withoutSimd.raw > 0 && ref.withoutSimd.bgr > 0;
    }
  }
#endif
  return ref;
}

const char* buildName() {
#ifdef _WIN32
  return sizeof(void*) == 4 ? "32-bit Windows (i686), the code qrcamlib.dll links" : "64-bit Windows (test build)";
#else
  return "native";
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = 20;
  const std::vector<Bytes> bare = cameraFrames(false);

#if QR_BENCH_LIBJPEG
  if (argc > 1 && std::strcmp(argv[1], "--libjpeg-only") == 0) {
    qrbench::LibjpegTimes t = qrbench::TimeLibjpeg(cameraFrames(true), calls);
    std::printf("%.6f %.6f\n", t.raw, t.bgr);
    return 0;
  }
#endif

  size_t totalBytes = 0;
  for (const Bytes& f : bare) totalBytes += f.size();
  std::printf("Build: %s\n", buildName());
  std::printf("Camera frames: %u of 640 x 480 at quality 250, %u bytes on average; converters: %s\n",
              static_cast<unsigned>(bare.size()), static_cast<unsigned>(totalBytes / bare.size()),
              qrjpeg::VectorKernelName());

  qrjpeg::JpegDecoder decoder;
  std::vector<uint8_t> frame(qrjpeg::kFrameBufferBytes);
  std::vector<uint8_t> out(qrjpeg::kFrameBufferBytes * 2);
  auto decode = [&](int i) {
    const Bytes& f = bare[i % bare.size()];
    decoder.DecodeHeader(f.data(), f.size(), nullptr, nullptr);
    decoder.DecodeScan(frame.data(), frame.size());
  };
  const double oursDecode = TimeMs(decode, calls);
  const double oursBgr = TimeMs(
      [&](int i) {
        decode(i);
        qrjpeg::ConvertFrame(0, frame.data(), frame.size(), kWidth, kHeight, out.data(), out.size());
      },
      calls);

  // The same with the plain C++ kernels, as on a processor without AVX2.
  qrjpeg::AllowVectorKernels(false);
  qrjpeg::JpegDecoder plainDecoder;
  auto plainDecode = [&](int i) {
    const Bytes& f = bare[i % bare.size()];
    plainDecoder.DecodeHeader(f.data(), f.size(), nullptr, nullptr);
    plainDecoder.DecodeScan(frame.data(), frame.size());
  };
  const double plainDecodeMs = TimeMs(plainDecode, calls);
  const double plainBgr = TimeMs(
      [&](int i) {
        plainDecode(i);
        qrjpeg::ConvertFrame(0, frame.data(), frame.size(), kWidth, kHeight, out.data(), out.size());
      },
      calls);
  qrjpeg::AllowVectorKernels(true);

  const Reference ref = reference(argc, argv, calls);
  std::printf("\nDecoding (per frame)\n");
  if (!ref.simd) std::printf("  (no libjpeg-turbo figures to compare with: scripts/bench passes the native ones)\n");
  char raw[64], bgr[64];
  std::snprintf(raw, sizeof raw, "%s raw planes", ref.name);
  std::snprintf(bgr, sizeof bgr, "%s BGR", ref.name);
  const char* plainName = "  same, JSIMD_FORCENONE=1";
  struct Line {
    const char* what;
    double ours;
    bool bgr;
  };
  const Line lines[] = {{"decode to 4:2:2", oursDecode, false},
                        {"decode to 4:2:2, our plain kernels", plainDecodeMs, false},
                        {"decode + BGR (format 0)", oursBgr, true},
                        {"decode + BGR, our plain kernels", plainBgr, true}};
  for (const Line& l : lines) {
    if (ref.simd) Row(l.what, l.ours, l.bgr ? bgr : raw, l.bgr ? ref.withSimd.bgr : ref.withSimd.raw);
    if (ref.plain) Row(l.what, l.ours, plainName, l.bgr ? ref.withoutSimd.bgr : ref.withoutSimd.raw);
  }
  Row("decode to 4:2:2", oursDecode, "our plain kernels", plainDecodeMs);
  Row("decode + BGR (format 0)", oursBgr, "our plain kernels", plainBgr);

  std::printf("\nConverters on a 640 x 480 frame (per frame)\n");
  decode(0);
  static const char* kNames[6] = {"format 0 BGR 24",    "format 1 grey", "format 2 RGB 5-5-5",
                                  "format 3 YUV 4:2:0", "format 4 copy", "format 5 YVU 4:1:0"};
  std::vector<uint8_t> copy(qrjpeg::kFrameBufferBytes * 2);
  for (int format = 0; format <= 5; ++format) {
    size_t bytes = qrjpeg::OutputBytes(format, kWidth, kHeight);
    double t = TimeMs(
        [&](int) { qrjpeg::ConvertFrame(format, frame.data(), frame.size(), kWidth, kHeight, out.data(), bytes); },
        calls * 4);
    qrjpeg::AllowVectorKernels(false);
    double plain = TimeMs(
        [&](int) { qrjpeg::ConvertFrame(format, frame.data(), frame.size(), kWidth, kHeight, out.data(), bytes); },
        calls * 4);
    qrjpeg::AllowVectorKernels(true);
    double m = TimeMs([&](int) { std::memcpy(copy.data(), frame.data(), bytes); }, calls * 4);
    char label[64];
    std::snprintf(label, sizeof label, "memcpy %u bytes", static_cast<unsigned>(bytes));
    Row(kNames[format], t, label, m);
    Row("  the same, plain kernels", plain, label, m);
  }
  if (qrjpeg::VectorKernels() == qrjpeg::VectorLevel::Avx512) {
    // The form that processors without AVX-512 run.
    qrjpeg::LimitVectorKernels(qrjpeg::VectorLevel::Avx2);
    const size_t bytes = qrjpeg::OutputBytes(2, kWidth, kHeight);
    double t =
        TimeMs([&](int) { qrjpeg::ConvertFrame(2, frame.data(), frame.size(), kWidth, kHeight, out.data(), bytes); },
               calls * 4);
    double m = TimeMs([&](int) { std::memcpy(copy.data(), frame.data(), bytes); }, calls * 4);
    qrjpeg::AllowVectorKernels(true);
    Row("format 2, AVX2 form", t, "memcpy 614400 bytes", m);
  }
  double dbl = TimeMs([&](int) { qrjpeg::DoubleFrame(frame.data(), frame.size()); }, calls);
  qrjpeg::AllowVectorKernels(false);
  double dblPlain = TimeMs([&](int) { qrjpeg::DoubleFrame(frame.data(), frame.size()); }, calls);
  qrjpeg::AllowVectorKernels(true);
  double dblCopy = TimeMs([&](int) { std::memcpy(copy.data(), frame.data(), qrjpeg::kFrameBufferBytes); }, calls);
  Row("DoubleFrame 640x480 -> 1280x960", dbl, "memcpy 2457600 bytes", dblCopy);
  Row("  the same, plain kernels", dblPlain, "memcpy 2457600 bytes", dblCopy);
  return 0;
}

// Side-by-side timing of the camera frame decoder and converters against libjpeg-turbo (accurate
// integer method) on the same 640 x 480 camera frames, and of each converter against one memcpy of
// its output. libjpeg-turbo is timed twice: with its SIMD code, and in a child process of this
// program with JSIMD_FORCENONE=1 (it reads the variable once per process).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "camera_streams.h"
#include "vector_kernels.h"
#include "jpeg_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;
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

// Best of fifteen rounds of the mean time of one call, in milliseconds (the best round is the one
// least disturbed by other work on the machine).
template <typename F>
double timeMs(F&& f, int calls) {
  double best = 1e30;
  for (int round = 0; round < 15; ++round) {
    auto t0 = Clock::now();
    for (int i = 0; i < calls; ++i) f(i);
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / calls;
    best = std::min(best, ms);
  }
  return best;
}

class LibjpegDecoder {
 public:
  LibjpegDecoder() {
    cinfo_.err = jpeg_std_error(&err_);
    jpeg_create_decompress(&cinfo_);
    for (auto& p : planes_) p.resize(kWidth * 16);
  }
  ~LibjpegDecoder() { jpeg_destroy_decompress(&cinfo_); }

  void rawPlanes(const Bytes& f, std::vector<uint8_t> (&out)[3]) {
    start(f);
    cinfo_.raw_data_out = TRUE;
    cinfo_.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo_);
    const int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
    while (cinfo_.output_scanline < cinfo_.output_height) {
      JSAMPROW rows[3][8];
      JSAMPARRAY arrays[3] = {rows[0], rows[1], rows[2]};
      for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 8; ++r)
          rows[c][r] = out[c].data() + static_cast<size_t>(cinfo_.output_scanline + r) * strides[c];
      jpeg_read_raw_data(&cinfo_, arrays, 8);
    }
    jpeg_finish_decompress(&cinfo_);
  }

  void bgr(const Bytes& f, uint8_t* out) {
    start(f);
    cinfo_.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo_);
    while (cinfo_.output_scanline < cinfo_.output_height) {
      JSAMPROW row = out + static_cast<size_t>(cinfo_.output_scanline) * kWidth * 3;
      jpeg_read_scanlines(&cinfo_, &row, 1);
    }
    jpeg_finish_decompress(&cinfo_);
  }

 private:
  void start(const Bytes& f) {
    jpeg_mem_src(&cinfo_, const_cast<uint8_t*>(f.data()), static_cast<unsigned long>(f.size()));
    jpeg_read_header(&cinfo_, TRUE);
    cinfo_.dct_method = JDCT_ISLOW;
  }
  jpeg_decompress_struct cinfo_;
  jpeg_error_mgr err_;
  std::vector<uint8_t> planes_[3];
};

struct LibjpegTimes {
  double raw = 0, bgr = 0;
};

LibjpegTimes timeLibjpeg(const std::vector<Bytes>& frames, int calls) {
  LibjpegDecoder lj;
  std::vector<uint8_t> planes[3] = {std::vector<uint8_t>(kWidth * kHeight), std::vector<uint8_t>(kWidth * kHeight),
                                    std::vector<uint8_t>(kWidth * kHeight)};
  std::vector<uint8_t> bgr(kWidth * kHeight * 3);
  LibjpegTimes t;
  t.raw = timeMs([&](int i) { lj.rawPlanes(frames[i % frames.size()], planes); }, calls);
  t.bgr = timeMs([&](int i) { lj.bgr(frames[i % frames.size()], bgr.data()); }, calls);
  return t;
}

// libjpeg-turbo without SIMD, timed in a child process of this program.
bool timeLibjpegWithoutSimd(const char* self, LibjpegTimes& t) {
  std::string command = std::string("JSIMD_FORCENONE=1 '") + self + "' --libjpeg-only";
  FILE* child = popen(command.c_str(), "r");
  if (!child) return false;
  int n = std::fscanf(child, "%lf %lf", &t.raw, &t.bgr);
  return pclose(child) == 0 && n == 2;
}

void row(const char* what, double ours, const char* refName, double ref) {
  std::printf("  %-34s %8.3f ms   %-28s %8.3f ms   ratio %5.2f\n", what, ours, refName, ref, ours / ref);
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = 20;
  const std::vector<Bytes> bare = cameraFrames(false);
  const std::vector<Bytes> full = cameraFrames(true);

  if (argc > 1 && std::strcmp(argv[1], "--libjpeg-only") == 0) {
    LibjpegTimes t = timeLibjpeg(full, calls);
    std::printf("%.6f %.6f\n", t.raw, t.bgr);
    return 0;
  }

  size_t totalBytes = 0;
  for (const Bytes& f : bare) totalBytes += f.size();
  std::printf("Camera frames: %zu of 640 x 480 at quality 250, %zu bytes on average; converters: %s\n", bare.size(),
              totalBytes / bare.size(), qrjpeg::VectorKernelName());

  qrjpeg::JpegDecoder decoder;
  std::vector<uint8_t> frame(qrjpeg::kFrameBufferBytes);
  std::vector<uint8_t> out(qrjpeg::kFrameBufferBytes * 2);
  auto decode = [&](int i) {
    const Bytes& f = bare[i % bare.size()];
    decoder.DecodeHeader(f.data(), f.size(), nullptr, nullptr);
    decoder.DecodeScan(frame.data(), frame.size());
  };
  const double oursDecode = timeMs(decode, calls);
  const double oursBgr = timeMs(
      [&](int i) {
        decode(i);
        qrjpeg::ConvertFrame(0, frame.data(), frame.size(), kWidth, kHeight, out.data(), out.size());
      },
      calls);

  // The same with the plain C++ kernels, as on a processor without AVX2.
  qrjpeg::AllowVectorKernels(false);
  qrjpeg::JpegDecoder plainDecoder;
  const double plainBgr = timeMs(
      [&](int i) {
        const Bytes& f = bare[i % bare.size()];
        plainDecoder.DecodeHeader(f.data(), f.size(), nullptr, nullptr);
        plainDecoder.DecodeScan(frame.data(), frame.size());
        qrjpeg::ConvertFrame(0, frame.data(), frame.size(), kWidth, kHeight, out.data(), out.size());
      },
      calls);
  qrjpeg::AllowVectorKernels(true);

  LibjpegTimes simd = timeLibjpeg(full, calls);
  LibjpegTimes plain;
  bool havePlain = timeLibjpegWithoutSimd(argv[0], plain);

  std::printf("\nDecoding (per frame)\n");
  row("decode to 4:2:2", oursDecode, "libjpeg-turbo raw planes", simd.raw);
  if (havePlain) row("decode to 4:2:2", oursDecode, "  same, JSIMD_FORCENONE=1", plain.raw);
  row("decode + BGR (format 0)", oursBgr, "libjpeg-turbo BGR", simd.bgr);
  if (havePlain) row("decode + BGR (format 0)", oursBgr, "  same, JSIMD_FORCENONE=1", plain.bgr);
  row("decode + BGR, our plain kernels", plainBgr, "libjpeg-turbo BGR", simd.bgr);
  if (havePlain) row("decode + BGR, our plain kernels", plainBgr, "  same, JSIMD_FORCENONE=1", plain.bgr);

  std::printf("\nConverters on a 640 x 480 frame (per frame)\n");
  decode(0);
  static const char* kNames[6] = {"format 0 BGR 24",    "format 1 grey", "format 2 RGB 5-5-5",
                                  "format 3 YUV 4:2:0", "format 4 copy", "format 5 YVU 4:1:0"};
  std::vector<uint8_t> copy(qrjpeg::kFrameBufferBytes * 2);
  for (int format = 0; format <= 5; ++format) {
    size_t bytes = qrjpeg::OutputBytes(format, kWidth, kHeight);
    double t = timeMs(
        [&](int) { qrjpeg::ConvertFrame(format, frame.data(), frame.size(), kWidth, kHeight, out.data(), bytes); },
        calls * 4);
    double m = timeMs([&](int) { std::memcpy(copy.data(), frame.data(), bytes); }, calls * 4);
    char label[64];
    std::snprintf(label, sizeof label, "memcpy %zu bytes", bytes);
    row(kNames[format], t, label, m);
  }
  if (qrjpeg::VectorKernels() == qrjpeg::VectorLevel::Avx512) {
    // The form that processors without AVX-512 run.
    qrjpeg::LimitVectorKernels(qrjpeg::VectorLevel::Avx2);
    const size_t bytes = qrjpeg::OutputBytes(2, kWidth, kHeight);
    double t =
        timeMs([&](int) { qrjpeg::ConvertFrame(2, frame.data(), frame.size(), kWidth, kHeight, out.data(), bytes); },
               calls * 4);
    double m = timeMs([&](int) { std::memcpy(copy.data(), frame.data(), bytes); }, calls * 4);
    qrjpeg::AllowVectorKernels(true);
    row("format 2, AVX2 form", t, "memcpy 614400 bytes", m);
  }
  double dbl = timeMs([&](int) { qrjpeg::DoubleFrame(frame.data(), frame.size()); }, calls);
  double dblCopy = timeMs([&](int) { std::memcpy(copy.data(), frame.data(), qrjpeg::kFrameBufferBytes); }, calls);
  row("DoubleFrame 640x480 -> 1280x960", dbl, "memcpy 2457600 bytes", dblCopy);
  return 0;
}

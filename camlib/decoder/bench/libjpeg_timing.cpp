#include "libjpeg_timing.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <jpeglib.h>

#include "bench_timing.h"

namespace qrbench {

namespace {

using qrtest::Bytes;

constexpr int kWidth = 640, kHeight = 480;

class LibjpegDecoder {
 public:
  LibjpegDecoder() {
    cinfo_.err = jpeg_std_error(&err_);
    jpeg_create_decompress(&cinfo_);
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
};

}  // namespace

LibjpegTimes TimeLibjpeg(const std::vector<Bytes>& frames, int calls) {
  LibjpegDecoder lj;
  std::vector<uint8_t> planes[3] = {std::vector<uint8_t>(kWidth * kHeight), std::vector<uint8_t>(kWidth * kHeight),
                                    std::vector<uint8_t>(kWidth * kHeight)};
  std::vector<uint8_t> bgr(kWidth * kHeight * 3);
  LibjpegTimes t;
  t.raw = TimeMs([&](int i) { lj.rawPlanes(frames[i % frames.size()], planes); }, calls);
  t.bgr = TimeMs([&](int i) { lj.bgr(frames[i % frames.size()], bgr.data()); }, calls);
  return t;
}

bool TimeLibjpegWithoutSimd(const char* self, LibjpegTimes& t) {
  std::string command = std::string("JSIMD_FORCENONE=1 '") + self + "' --libjpeg-only";
  FILE* child = popen(command.c_str(), "r");
  if (!child) return false;
  int n = std::fscanf(child, "%lf %lf", &t.raw, &t.bgr);
  return pclose(child) == 0 && n == 2;
}

}  // namespace qrbench

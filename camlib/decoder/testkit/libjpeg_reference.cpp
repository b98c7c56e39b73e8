#include "libjpeg_reference.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace qrtest {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf escape;
};

void errorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->escape, 1); }
void silence(j_common_ptr, int) {}

}  // namespace

ReferencePicture ReferenceDecodePacked(const uint8_t* data, size_t length) {
  ReferencePicture pic;
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = errorExit;
  err.pub.emit_message = silence;
  std::vector<uint8_t> planes[3];
  if (setjmp(err.escape)) {
    jpeg_destroy_decompress(&cinfo);
    return ReferencePicture{};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<uint8_t*>(data), static_cast<unsigned long>(length));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.raw_data_out = TRUE;
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);

  const int w = static_cast<int>(cinfo.image_width), h = static_cast<int>(cinfo.image_height);
  const int mcus = static_cast<int>(cinfo.MCUs_per_row);
  const int strides[3] = {16 * mcus, 8 * mcus, 8 * mcus};
  const int rowsAlloc = static_cast<int>(cinfo.total_iMCU_rows) * 8;
  for (int c = 0; c < 3; ++c) planes[c].assign(static_cast<size_t>(strides[c]) * rowsAlloc, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[3][8];
    JSAMPARRAY arrays[3] = {rows[0], rows[1], rows[2]};
    int base = static_cast<int>(cinfo.output_scanline);
    for (int c = 0; c < 3; ++c)
      for (int r = 0; r < 8; ++r) rows[c][r] = planes[c].data() + static_cast<size_t>(base + r) * strides[c];
    jpeg_read_raw_data(&cinfo, arrays, 8);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);

  pic.ok = true;
  pic.width = w;
  pic.height = h;
  pic.packed.resize(static_cast<size_t>(w) * h * 2);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; x += 2) {
      uint8_t* o = pic.packed.data() + (static_cast<size_t>(y) * w + x) * 2;
      o[0] = planes[0][static_cast<size_t>(y) * strides[0] + x];
      o[1] = planes[1][static_cast<size_t>(y) * strides[1] + x / 2];
      o[2] = planes[0][static_cast<size_t>(y) * strides[0] + x + 1];
      o[3] = planes[2][static_cast<size_t>(y) * strides[2] + x / 2];
    }
  }
  return pic;
}

bool ReferenceDecodeBgr(const uint8_t* data, size_t length, std::vector<uint8_t>& bgr) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = errorExit;
  err.pub.emit_message = silence;
  if (setjmp(err.escape)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<uint8_t*>(data), static_cast<unsigned long>(length));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  size_t stride = static_cast<size_t>(cinfo.output_width) * 3;
  bgr.resize(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = bgr.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

std::vector<std::vector<uint8_t>> ReferenceTypicalHuffmanTables() {
  // Compress a tiny picture with libjpeg's defaults and read back the DHT segments it wrote.
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = 16;
  cinfo.image_height = 8;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(16 * 3, 100);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);

  std::vector<std::vector<uint8_t>> tables(4);
  size_t pos = 2;
  while (pos + 4 <= outSize && out[pos] == 0xFF && out[pos + 1] != 0xDA) {
    size_t len = (out[pos + 2] << 8) | out[pos + 3];
    if (out[pos + 1] == 0xC4) {
      size_t p = pos + 4, end = pos + 2 + len;
      while (p < end) {
        int tc = out[p] >> 4, th = out[p] & 15;
        size_t count = 0;
        for (int i = 0; i < 16; ++i) count += out[p + 1 + i];
        std::vector<uint8_t>& t = tables[th * 2 + tc];
        t.assign(out + p + 1, out + p + 17 + count);
        p += 17 + count;
      }
    }
    pos += 2 + len;
  }
  free(out);
  return tables;
}

}  // namespace qrtest

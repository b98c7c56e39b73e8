// The camera's frame decoder and the converters into the six output formats.
//
// The camera sends each frame as a restricted baseline JPEG stream: start of image, quantisation
// tables, a baseline frame header of three components (Y sampled 2x1, Cb and Cr 1x1), a scan header
// of length 12 and the entropy-coded data, with the typical Huffman tables of the standard left
// out. The decoder turns it into packed 4:2:2 samples (Y0 Cb Y1 Cr, rows top-down, width x 2 bytes
// a row) in the library's frame buffer; the converters turn that frame into what a front end asked
// for. None of this touches Win32 or uses floating point.
//
// How the camera library drives it, for each frame:
//
//     qrjpeg::JpegDecoder decoder(kFrameBufferBytes);          // once, at acquisition
//     int w, h;
//     decoder.DecodeHeader(compressed, bytesReturned, &w, &h);  // result may be ignored
//     decoder.DecodeScan(frameBuffer, kFrameBufferBytes);
//     if (resolution == 5) qrjpeg::DoubleFrame(frameBuffer, kFrameBufferBytes);
//     qrjpeg::ConvertFrame(format, frameBuffer, kFrameBufferBytes, outW, outH,
//                          destination, qrjpeg::OutputBytes(format, outW, outH));
//
// For format 4 (the frame copied unchanged) pass the capture size, not the doubled output size,
// so that exactly the captured frame length is copied.
//
// Safety: whatever the compressed bytes hold, the decoder reads only inside [data, data + length)
// and writes only inside the frame buffer's stated capacity; the converters write only inside the
// stated output capacity and read only inside the stated frame capacity.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrjpeg {

// The library's frame buffer: 1280 x 960 pixels at two bytes each.
constexpr size_t kFrameBufferBytes = 1280 * 960 * 2;

class JpegDecoder {
 public:
  // frameCapacity: size of the frame buffer that DecodeScan will be given; a header announcing a
  // larger picture is refused.
  explicit JpegDecoder(size_t frameCapacity = kFrameBufferBytes);

  // Parses the stream up to and including the scan header. Returns true when the picture can be
  // decoded (and reports its size in width and height, either of which may be null); false
  // otherwise, leaving them untouched. The data must stay in place until the following
  // DecodeScan, which reads the entropy-coded part from it.
  //
  // After false, DecodeScan still runs with the layout of the last good header but without input
  // bits, giving a featureless picture (every MCU alike) -- except when the header was refused
  // because its picture does not fit the frame buffer, has an odd width, or is not sampled as two
  // luminance blocks and one block of each chrominance per MCU: then DecodeScan leaves the frame
  // buffer unchanged. Before the first good header DecodeScan writes nothing.
  bool DecodeHeader(const uint8_t* data, size_t length, int* width, int* height);

  // Decodes the scan into frame (packed Y0 Cb Y1 Cr, width x 2 bytes a row, width() x height()
  // pixels). Returns false when it wrote nothing (see DecodeHeader, and a capacity below the
  // picture's size). Corrupt entropy data only garbles the picture: reading stops at the end of
  // the data and missing bits read as zeros.
  bool DecodeScan(uint8_t* frame, size_t capacity);

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  struct Component {
    int id = 0;
    int hSampling = 0;
    int vSampling = 0;
    int quantTable = 0;
    int tableSelector = 0;  // 0: luminance Huffman tables, 1: chrominance
  };
  enum class ScanState { None, Flat, Refused, Ready };

  bool parseFrameHeader(const uint8_t* seg, size_t segLength);
  void parseQuantTables(const uint8_t* seg, size_t segLength);
  bool parseScanHeader(const uint8_t* seg, size_t segLength);
  bool layoutFits(const Component* comps, int width, int height) const;

  size_t frameCapacity_;
  void (*idct_)(const int16_t*, const uint16_t*, uint8_t*);  // the fastest form this processor runs
  const uint8_t* data_ = nullptr;
  size_t length_ = 0;
  size_t entropyStart_ = 0;
  ScanState state_ = ScanState::None;

  // Frame header of the stream being parsed; committed to the fields below when the scan header
  // is reached and the layout is accepted.
  bool frameValid_ = false;
  int pendingWidth_ = 0;
  int pendingHeight_ = 0;
  Component pending_[3];

  int width_ = 0;
  int height_ = 0;
  Component components_[3];
  uint16_t quant_[4][64] = {};  // natural order
};

// Output formats.
enum OutputFormat {
  kFormatBgr24 = 0,      // blue, green, red; rows bottom-up
  kFormatGrey8 = 1,      // luminance; rows bottom-up
  kFormatRgb555 = 2,     // 16-bit 5-5-5; rows bottom-up
  kFormatYuv420 = 3,     // planar Y, U, V (each chroma plane w/2 x h/2); top-down
  kFormatPacked422 = 4,  // the frame itself; top-down
  kFormatYvu410 = 5,     // planar Y, V, U (each chroma plane w/4 x h/4); top-down
};

// Bytes that format needs for a w x h picture; 0 for an unknown format or a negative size.
size_t OutputBytes(int format, int width, int height);

// Converts the packed 4:2:2 frame (w x h, rows top-down, w x 2 bytes a row) into out. Returns false,
// writing nothing, when the format is unknown, w is odd, the frame holds fewer than w x h x 2 bytes
// or out holds fewer than OutputBytes(format, w, h).
bool ConvertFrame(int format, const uint8_t* frame, size_t frameCapacity, int width, int height, uint8_t* out,
                  size_t outCapacity);

// Doubles the 640 x 480 packed frame in place into 1280 x 960 (each pixel repeated across and
// down). Returns false, doing nothing, when the buffer is smaller than 1280 x 960 x 2 bytes.
bool DoubleFrame(uint8_t* frame, size_t capacity);

}  // namespace qrjpeg

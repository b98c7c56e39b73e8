#include "jpeg_decoder.h"

#include <cstring>

#include "huffman_decoder.h"
#include "idct.h"
#include "jpeg_tables.h"
#include "mcu_writer.h"

namespace qrjpeg {

namespace {

constexpr int kMarkerSof0 = 0xFFC0;
constexpr int kMarkerDqt = 0xFFDB;
constexpr int kMarkerSos = 0xFFDA;
constexpr int kMarkerApp0 = 0xFFE0;
constexpr int kMarkerApp1 = 0xFFE1;
constexpr int kMarkerComment = 0xFFFE;

inline int readU16(const uint8_t* p) { return (p[0] << 8) | p[1]; }

// Bytes of a packed w x h picture, worked out in 64 bits: a header may announce up to 65535 x 65535
// pixels, whose byte count wraps a 32-bit size_t (and could then pass for a small picture).
inline uint64_t pictureBytes(int width, int height) {
  return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 2;
}

// Selector 0: luminance tables; selector 1: chrominance tables.
struct HuffmanTables {
  HuffmanLookup dc[2] = {HuffmanLookup(kLuminanceDc), HuffmanLookup(kChrominanceDc)};
  AcLookup ac[2] = {AcLookup(kLuminanceAc), AcLookup(kChrominanceAc)};
};

const HuffmanTables& huffmanTables() {
  static const HuffmanTables tables;
  return tables;
}

// Decodes one block's coefficients (natural order) into coef, which must be all zero on entry.
// Returns true when any AC coefficient was coded, so that DC-only blocks can skip the transform.
bool decodeBlock(BitReader& reader, const HuffmanLookup& dcTable, const AcLookup& acTable, int32_t& predictor,
                 int16_t* coef) {
  reader.ensure32();
  int size = dcTable.decode(reader);
  if (size) predictor += ExtendSign(reader.take(size), size);
  coef[0] = static_cast<int16_t>(predictor);

  bool anyAc = false;
  for (int k = 1; k < 64;) {
    reader.ensure32();
    const AcLookup::Entry& e = acTable.at(reader);
    int run;
    int32_t value;
    if (e.bits != 0) {
      reader.skip(e.bits);
      if (e.run == AcLookup::kEndOfBlock) break;
      run = e.run;
      value = e.value;
    } else {
      const int symbol = acTable.general().decode(reader);
      if (symbol == 0) break;  // end of block
      run = symbol >> 4;
      size = symbol & 15;
      value = ExtendSign(size ? reader.take(size) : 0, size);  // run 15, size 0: sixteen zeros
    }
    k += run;
    coef[kZigzagToNatural[k]] = static_cast<int16_t>(value);
    anyAc = true;
    ++k;
  }
  return anyAc;
}

// Transforms a decoded block into 8x8 samples and clears the coefficients for the next block.
void finishBlock(InverseDctRoutine idct, int16_t* coef, bool anyAc, const uint16_t* quant, uint8_t* samples) {
  if (anyAc) {
    idct(coef, quant, samples);
    std::memset(coef, 0, 64 * sizeof(int16_t));
  } else {
    std::memset(samples, InverseDctDcOnly(coef[0], quant[0]), 64);
    coef[0] = 0;
  }
}

}  // namespace

JpegDecoder::JpegDecoder(size_t frameCapacity) : frameCapacity_(frameCapacity), idct_(FastestInverseDct()) {
  huffmanTables();  // build the lookup tables now rather than inside the first frame
}

bool JpegDecoder::DecodeHeader(const uint8_t* data, size_t length, int* width, int* height) {
  data_ = data;
  length_ = length;
  frameValid_ = false;
  // Until a good scan header is found, the next scan decodes the last good layout with no
  // input bits.
  entropyStart_ = length;
  if (state_ != ScanState::None) state_ = ScanState::Flat;

  if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;

  size_t pos = 2;
  int marker = readU16(data + pos);
  for (;;) {
    pos += 2;  // the segment's length field
    if (length - pos < 2) return false;
    size_t segLength = static_cast<size_t>(readU16(data + pos));
    if (segLength < 2 || segLength > length - pos) return false;
    const uint8_t* seg = data + pos + 2;
    size_t body = segLength - 2;

    switch (marker) {
      case kMarkerSof0:
        parseFrameHeader(seg, body);
        break;
      case kMarkerDqt:
        parseQuantTables(seg, body);
        break;
      case kMarkerSos:
        if (!parseScanHeader(seg, body)) return false;
        if (!layoutFits(pending_, pendingWidth_, pendingHeight_)) {
          state_ = ScanState::Refused;
          return false;
        }
        entropyStart_ = pos + segLength;
        width_ = pendingWidth_;
        height_ = pendingHeight_;
        for (int c = 0; c < 3; ++c) components_[c] = pending_[c];
        state_ = ScanState::Ready;
        if (width) *width = width_;
        if (height) *height = height_;
        return true;
      case kMarkerApp0:
      case kMarkerApp1:
      case kMarkerComment:
        break;
      default:
        return false;  // Huffman tables, restart interval, end of image, anything else
    }

    pos += segLength;
    if (length - pos < 2) return false;
    marker = readU16(data + pos);
    if (marker < 0xFFC0 || marker > 0xFFFE) return false;
  }
}

bool JpegDecoder::parseFrameHeader(const uint8_t* seg, size_t body) {
  // Only the camera's form is taken: 8-bit precision and three components. Others are skipped.
  if (body != 15 || seg[0] != 8 || seg[5] != 3) return false;
  pendingHeight_ = readU16(seg + 1);
  pendingWidth_ = readU16(seg + 3);
  for (int c = 0; c < 3; ++c) {
    const uint8_t* p = seg + 6 + 3 * c;
    pending_[c].id = p[0];
    pending_[c].hSampling = p[1] >> 4;
    pending_[c].vSampling = p[1] & 15;
    pending_[c].quantTable = p[2];
    pending_[c].tableSelector = components_[c].tableSelector;
  }
  frameValid_ = true;
  return true;
}

void JpegDecoder::parseQuantTables(const uint8_t* seg, size_t body) {
  size_t pos = 0;
  while (pos < body) {
    int spec = seg[pos++];
    int table = spec & 3;
    bool wide = spec >= 16;
    size_t need = wide ? 128 : 64;
    if (body - pos < need) return;  // a truncated table is ignored
    for (int k = 0; k < 64; ++k) {
      int v = wide ? readU16(seg + pos + 2 * k) : seg[pos + k];
      quant_[table][kZigzagToNatural[k]] = static_cast<uint16_t>(v);
    }
    pos += need;
  }
}

bool JpegDecoder::parseScanHeader(const uint8_t* seg, size_t body) {
  if (!frameValid_ || body != 10 || seg[0] != 3) return false;
  // Component 1 takes the luminance tables, 2 and 3 the chrominance ones; the checks stop at the
  // first component that is not in the camera's form, which keeps its earlier tables.
  static const uint8_t kExpected[3][2] = {{1, 0x00}, {2, 0x11}, {3, 0x11}};
  for (int c = 0; c < 3; ++c) {
    if (seg[1 + 2 * c] != kExpected[c][0] || seg[2 + 2 * c] != kExpected[c][1]) break;
    pending_[c].tableSelector = c == 0 ? 0 : 1;
  }
  return true;
}

bool JpegDecoder::layoutFits(const Component* comps, int width, int height) const {
  static const int kSampling[3][2] = {{2, 1}, {1, 1}, {1, 1}};
  for (int c = 0; c < 3; ++c) {
    if (comps[c].hSampling != kSampling[c][0] || comps[c].vSampling != kSampling[c][1]) return false;
    if (comps[c].quantTable > 3) return false;
  }
  if (width <= 0 || height <= 0 || width % 2 != 0) return false;
  return pictureBytes(width, height) <= frameCapacity_;
}

bool JpegDecoder::DecodeScan(uint8_t* frame, size_t capacity) {
  if (state_ != ScanState::Ready && state_ != ScanState::Flat) return false;
  if (!frame || pictureBytes(width_, height_) > capacity) return false;
  const size_t stride = static_cast<size_t>(width_) * 2;

  const uint8_t* begin = state_ == ScanState::Ready ? data_ + entropyStart_ : nullptr;
  const uint8_t* end = state_ == ScanState::Ready ? data_ + length_ : nullptr;
  BitReader reader(begin, end);

  const HuffmanTables& tables = huffmanTables();
  const HuffmanLookup* dc[3];
  const AcLookup* ac[3];
  const uint16_t* quant[3];
  for (int c = 0; c < 3; ++c) {
    dc[c] = &tables.dc[components_[c].tableSelector];
    ac[c] = &tables.ac[components_[c].tableSelector];
    quant[c] = quant_[components_[c].quantTable];
  }

  static const int kBlockComponent[4] = {0, 0, 1, 2};
  int32_t predictor[3] = {0, 0, 0};
  alignas(32) int16_t coef[64] = {};
  alignas(32) McuBlocks blocks;

  int mcusPerRow = (width_ + 15) / 16;
  int mcuRows = (height_ + 7) / 8;
  for (int r = 0; r < mcuRows; ++r) {
    int rows = height_ - 8 * r < 8 ? height_ - 8 * r : 8;
    uint8_t* rowStart = frame + static_cast<size_t>(8 * r) * stride;
    for (int m = 0; m < mcusPerRow; ++m) {
      for (int b = 0; b < 4; ++b) {
        int c = kBlockComponent[b];
        bool anyAc = decodeBlock(reader, *dc[c], *ac[c], predictor[c], coef);
        finishBlock(idct_, coef, anyAc, quant[c], blocks[b]);
      }
      int pairs = (width_ - 16 * m) / 2 < 8 ? (width_ - 16 * m) / 2 : 8;
      WriteMcu(blocks, rowStart + 32 * static_cast<size_t>(m), stride, pairs, rows);
    }
  }
  return true;
}

}  // namespace qrjpeg

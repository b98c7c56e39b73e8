// JPEG decoder: baseline and extended sequential (Huffman) and progressive frames, 8-bit
// samples, one component (grey) or three (YCbCr, or RGB when an Adobe marker says so), any
// integral sampling factors, restart intervals. Coefficients are kept for the whole frame so
// that progressive scans can refine them; the output is made once all scans are read.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "../core/bytes.h"
#include "formats.h"
#include "huffman_decoder.h"
#include "jpeg_basis.h"

namespace vic {

namespace {

using qrjpeg::BitReader;
using qrjpeg::HuffmanLookup;
using qrjpeg::kZigzagToNatural;

struct HuffmanTable {
  bool defined = false;
  HuffmanLookup lookup;
};

// Entropy-coded data of one scan: stuffed zeros removed; a marker ends it (zeros are read after
// it) and reading past the end of the file is noted (BitReader::overran).
class BitStream {
 public:
  BitStream(const uint8_t* data, std::size_t size, std::size_t position)
      : data_(data), reader_(data + position, data + size, BitReader::Markers::kStop) {}

  std::size_t position() const { return static_cast<std::size_t>(reader_.position() - data_); }
  bool overran() const { return reader_.overran(); }

  int bits(int count) { return static_cast<int>(reader_.bits(count)); }
  int bit() { return bits(1); }
  // Value of `count` bits, extended to a signed coefficient (T.81 F.2.2.1).
  int receiveExtend(int count) {
    if (count == 0 || count > 16) return 0;
    return qrjpeg::ExtendSign(reader_.bits(count), count);
  }
  int decode(const HuffmanTable& table) {
    reader_.ensure32();
    return table.lookup.decode(reader_);
  }
  // At a restart interval: drop the partial byte and step over the RSTn marker if it is there.
  void restart() { reader_.restart(); }

 private:
  const uint8_t* data_;
  BitReader reader_;
};

struct Component {
  int id = 0, h = 1, v = 1, quantTable = 0;
  int blocksWide = 0, blocksHigh = 0;  // storage, padded to whole MCUs
  int usedWide = 0, usedHigh = 0;      // blocks that cover the image
  std::vector<int16_t> coefficients;   // 64 per block, natural order
  int dcPredictor = 0;
  int dcTable = 0, acTable = 0;
  int16_t* block(int x, int y) { return coefficients.data() + (static_cast<std::size_t>(y) * blocksWide + x) * 64; }
};

struct Frame {
  bool present = false, progressive = false;
  int width = 0, height = 0, hMax = 1, vMax = 1, mcusWide = 0, mcusHigh = 0;
  std::vector<Component> components;
};

class Decoder {
 public:
  Decoder(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // Reads markers up to the first scan: enough for the size and kind of the picture.
  int readHeader() {
    ByteReader in(data_, size_);
    if (in.u8() != 0xFF || in.u8() != 0xD8) return kBadJpeg;
    position_ = 2;
    while (true) {
      int marker = nextMarker();
      if (marker < 0) return kBadJpeg;
      if (marker == 0xDA || marker == 0xD9) return frame_.present ? kOk : kBadJpeg;
      int result = readSegment(marker);
      if (result != kOk) return result;
      if (frame_.present && headerOnly_) return kOk;
    }
  }

  int decode(Picture& picture) {
    ByteReader in(data_, size_);
    if (in.u8() != 0xFF || in.u8() != 0xD8) return kBadJpeg;
    position_ = 2;
    bool sawScan = false;
    while (true) {
      int marker = nextMarker();
      if (marker < 0 || marker == 0xD9) {
        // A progressive file cut short between scans has lost detail; refuse it. A sequential
        // file whose scan is complete may lack its end marker.
        if (!sawScan || (marker < 0 && frame_.progressive)) return kBadJpeg;
        break;
      }
      if (marker == 0xDA) {
        // Real progressive files have about ten scans; thousands would only make a crafted file
        // take minutes over one picture.
        if (!frame_.present || ++scans_ > kMaxScans) return kBadJpeg;
        int result = readScan();
        if (result != kOk) return result;
        sawScan = true;
        continue;
      }
      int result = readSegment(marker);
      if (result != kOk) return result;
    }
    return output(picture);
  }

  const Frame& frame() const { return frame_; }
  void setHeaderOnly() { headerOnly_ = true; }

 private:
  // Position of the next marker code (skipping fill bytes and anything between segments).
  int nextMarker() {
    while (position_ + 1 < size_) {
      if (data_[position_] != 0xFF) {
        ++position_;
        continue;
      }
      uint8_t code = data_[position_ + 1];
      if (code == 0xFF) {
        ++position_;
        continue;
      }
      position_ += 2;
      if (code == 0x00 || (code >= 0xD0 && code <= 0xD7) || code == 0x01) continue;
      return code;
    }
    return -1;
  }

  int readSegment(int marker) {
    if (position_ + 2 > size_) return kBadJpeg;
    std::size_t length = data_[position_] << 8 | data_[position_ + 1];
    if (length < 2 || position_ + length > size_) return kBadJpeg;
    ByteReader in(data_ + position_ + 2, length - 2);
    position_ += length;
    switch (marker) {
      case 0xC0:
      case 0xC1:
      case 0xC2:
        return readFrame(in, marker == 0xC2);
      case 0xC3:
      case 0xC5:
      case 0xC6:
      case 0xC7:
      case 0xC9:
      case 0xCA:
      case 0xCB:
      case 0xCD:
      case 0xCE:
      case 0xCF:
        return kBadJpeg;  // lossless, hierarchical and arithmetic coding are not supported
      case 0xC4:
        return readHuffman(in);
      case 0xDB:
        return readQuant(in);
      case 0xDD:
        restartInterval_ = in.be16();
        return in.failed() ? kBadJpeg : kOk;
      case 0xEE:  // Adobe: the transform flag says whether three components are YCbCr
        if (in.remaining() >= 12 && std::memcmp(in.data(), "Adobe", 5) == 0) {
          adobe_ = true;
          adobeTransform_ = in.data()[11];
        }
        return kOk;
      default:
        return kOk;
    }
  }

  int readFrame(ByteReader& in, bool progressive) {
    if (frame_.present) return kBadJpeg;
    int precision = in.u8();
    frame_.height = in.be16();
    frame_.width = in.be16();
    int count = in.u8();
    if (in.failed() || precision != 8 || frame_.width == 0 || frame_.height == 0) return kBadJpeg;
    if (count != 1 && count != 3) return kBadJpeg;
    frame_.progressive = progressive;
    for (int i = 0; i < count; ++i) {
      Component c;
      c.id = in.u8();
      int sampling = in.u8();
      c.h = sampling >> 4;
      c.v = sampling & 15;
      c.quantTable = in.u8();
      if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.quantTable > 3) return kBadJpeg;
      frame_.components.push_back(c);
    }
    if (in.failed()) return kBadJpeg;
    if (count == 1) frame_.components[0].h = frame_.components[0].v = 1;  // one component is never interleaved
    for (const Component& c : frame_.components) {
      frame_.hMax = std::max(frame_.hMax, c.h);
      frame_.vMax = std::max(frame_.vMax, c.v);
    }
    for (const Component& c : frame_.components) {
      if (frame_.hMax % c.h || frame_.vMax % c.v) return kBadJpeg;  // only whole-number ratios
    }
    if (frame_.width > kMaxDimension || frame_.height > kMaxDimension ||
        static_cast<int64_t>(frame_.width) * frame_.height > kMaxPixels) {
      return kNoMemory;
    }
    frame_.present = true;
    if (headerOnly_) return kOk;
    frame_.mcusWide = (frame_.width + 8 * frame_.hMax - 1) / (8 * frame_.hMax);
    frame_.mcusHigh = (frame_.height + 8 * frame_.vMax - 1) / (8 * frame_.vMax);
    for (Component& c : frame_.components) {
      c.blocksWide = frame_.mcusWide * c.h;
      c.blocksHigh = frame_.mcusHigh * c.v;
      c.usedWide = std::max(1, (((frame_.width * c.h) + frame_.hMax - 1) / frame_.hMax + 7) / 8);
      c.usedHigh = std::max(1, (((frame_.height * c.v) + frame_.vMax - 1) / frame_.vMax + 7) / 8);
      c.coefficients.assign(static_cast<std::size_t>(c.blocksWide) * c.blocksHigh * 64, 0);
    }
    return kOk;
  }

  int readHuffman(ByteReader& in) {
    while (in.remaining() > 0) {
      int info = in.u8();
      int tableClass = info >> 4, id = info & 15;
      qrjpeg::HuffmanSpec spec = {};
      if (!in.bytes(spec.counts, 16) || tableClass > 1 || id > 3) return kBadJpeg;
      int total = 0;
      for (uint8_t c : spec.counts) total += c;
      uint8_t symbols[256];
      if (total > 256 || !in.bytes(symbols, total)) return kBadJpeg;
      spec.symbols = symbols;
      spec.symbolCount = total;
      HuffmanTable& table = tableClass ? ac_[id] : dc_[id];
      table.defined = table.lookup.build(spec);
      if (!table.defined) return kBadJpeg;
    }
    return kOk;
  }

  int readQuant(ByteReader& in) {
    while (in.remaining() > 0) {
      int info = in.u8();
      int precision = info >> 4, id = info & 15;
      if (precision > 1 || id > 3) return kBadJpeg;
      for (int k = 0; k < 64; ++k)
        quant_[id][kZigzagToNatural[k]] = static_cast<uint16_t>(precision ? in.be16() : in.u8());
      if (in.failed()) return kBadJpeg;
      quantDefined_[id] = true;
    }
    return kOk;
  }

  int readScan() {
    if (position_ + 2 > size_) return kBadJpeg;
    std::size_t length = data_[position_] << 8 | data_[position_ + 1];
    if (length < 2 || position_ + length > size_) return kBadJpeg;
    ByteReader in(data_ + position_ + 2, length - 2);
    position_ += length;
    int count = in.u8();
    if (count < 1 || count > 4) return kBadJpeg;
    std::vector<Component*> scan;
    for (int i = 0; i < count; ++i) {
      int id = in.u8(), tables = in.u8();
      Component* found = nullptr;
      for (Component& c : frame_.components) {
        if (c.id == id) found = &c;
      }
      if (!found || std::find(scan.begin(), scan.end(), found) != scan.end()) return kBadJpeg;
      found->dcTable = tables >> 4;
      found->acTable = tables & 15;
      if (found->dcTable > 3 || found->acTable > 3) return kBadJpeg;
      scan.push_back(found);
    }
    int start = in.u8(), end = in.u8(), approximation = in.u8();
    if (in.failed()) return kBadJpeg;
    ScanSpec spec{start, end, approximation >> 4, approximation & 15};
    if (frame_.progressive) {
      bool dc = spec.start == 0;
      if (spec.end > 63 || spec.start > spec.end || spec.low > 13 || spec.high > 13) return kBadJpeg;
      if (dc && spec.end != 0) return kBadJpeg;
      if (!dc && count != 1) return kBadJpeg;
    } else {
      spec = ScanSpec{0, 63, 0, 0};
    }
    for (Component* c : scan) {
      bool needDc = !frame_.progressive || (spec.start == 0 && spec.high == 0);
      bool needAc = !frame_.progressive || spec.start > 0;
      if (needDc && !dc_[c->dcTable].defined) return kBadJpeg;
      if (needAc && spec.start > 0 && !ac_[c->acTable].defined) return kBadJpeg;
      if (!frame_.progressive && !ac_[c->acTable].defined) return kBadJpeg;
      c->dcPredictor = 0;
    }
    return decodeScanData(scan, spec);
  }

  struct ScanSpec {
    int start, end, high, low;
  };

  int decodeScanData(const std::vector<Component*>& scan, const ScanSpec& spec) {
    BitStream bits(data_, size_, position_);
    eobRun_ = 0;
    bool single = scan.size() == 1;
    int unitsWide = single ? scan[0]->usedWide : frame_.mcusWide;
    int unitsHigh = single ? scan[0]->usedHigh : frame_.mcusHigh;
    long long units = static_cast<long long>(unitsWide) * unitsHigh;
    for (long long unit = 0; unit < units; ++unit) {
      if (restartInterval_ && unit > 0 && unit % restartInterval_ == 0) {
        bits.restart();
        eobRun_ = 0;
        for (Component* c : scan) c->dcPredictor = 0;
      }
      int ux = static_cast<int>(unit % unitsWide), uy = static_cast<int>(unit / unitsWide);
      if (single) {
        decodeBlock(bits, *scan[0], scan[0]->block(ux, uy), spec);
      } else {
        for (Component* c : scan) {
          for (int v = 0; v < c->v; ++v) {
            for (int h = 0; h < c->h; ++h) decodeBlock(bits, *c, c->block(ux * c->h + h, uy * c->v + v), spec);
          }
        }
      }
      if (bits.overran()) return kBadJpeg;  // the file ends inside the scan
    }
    position_ = bits.position();
    return kOk;
  }

  static int16_t clampCoefficient(int value) { return static_cast<int16_t>(std::clamp(value, -32768, 32767)); }

  void decodeBlock(BitStream& bits, Component& c, int16_t* block, const ScanSpec& spec) {
    if (!frame_.progressive) {
      decodeSequential(bits, c, block);
    } else if (spec.start == 0) {
      if (spec.high == 0) {
        int category = bits.decode(dc_[c.dcTable]);
        c.dcPredictor = std::clamp(c.dcPredictor + bits.receiveExtend(category), -65536, 65536);
        block[0] = clampCoefficient(c.dcPredictor * (1 << spec.low));
      } else if (bits.bit()) {
        block[0] = static_cast<int16_t>(block[0] | (1 << spec.low));
      }
    } else if (spec.high == 0) {
      decodeAcFirst(bits, c, block, spec);
    } else {
      decodeAcRefine(bits, c, block, spec);
    }
  }

  void decodeSequential(BitStream& bits, Component& c, int16_t* block) {
    int category = bits.decode(dc_[c.dcTable]);
    c.dcPredictor = std::clamp(c.dcPredictor + bits.receiveExtend(category), -65536, 65536);
    block[0] = clampCoefficient(c.dcPredictor);
    const HuffmanTable& ac = ac_[c.acTable];
    for (int k = 1; k < 64;) {
      int rs = bits.decode(ac);
      int run = rs >> 4, size = rs & 15;
      if (size == 0) {
        if (run != 15) break;
        k += 16;
        continue;
      }
      k += run;
      if (k > 63) break;
      block[kZigzagToNatural[k++]] = clampCoefficient(bits.receiveExtend(size));
    }
  }

  void decodeAcFirst(BitStream& bits, Component& c, int16_t* block, const ScanSpec& spec) {
    if (eobRun_ > 0) {
      --eobRun_;
      return;
    }
    const HuffmanTable& ac = ac_[c.acTable];
    for (int k = spec.start; k <= spec.end;) {
      int rs = bits.decode(ac);
      int run = rs >> 4, size = rs & 15;
      if (size == 0) {
        if (run < 15) {
          eobRun_ = (1 << run) - 1;
          if (run) eobRun_ += bits.bits(run);
          break;
        }
        k += 16;
        continue;
      }
      k += run;
      if (k > spec.end) break;
      block[kZigzagToNatural[k++]] = clampCoefficient(bits.receiveExtend(size) * (1 << spec.low));
    }
  }

  // Successive approximation of AC coefficients (T.81 G.1.2.3): each coefficient already
  // non-zero gets a correction bit; new coefficients of magnitude one are placed after runs of
  // still-zero ones.
  void decodeAcRefine(BitStream& bits, Component& c, int16_t* block, const ScanSpec& spec) {
    int plus = 1 << spec.low, minus = -plus;
    int k = spec.start;
    auto refine = [&](int16_t& coefficient) {
      if (bits.bit() && (coefficient & plus) == 0) {
        coefficient = clampCoefficient(coefficient + (coefficient >= 0 ? plus : minus));
      }
    };
    if (eobRun_ == 0) {
      const HuffmanTable& ac = ac_[c.acTable];
      for (; k <= spec.end; ++k) {
        int rs = bits.decode(ac);
        int run = rs >> 4, size = rs & 15, value = 0;
        if (size) {
          value = bits.bit() ? plus : minus;  // size must be 1
        } else if (run != 15) {
          eobRun_ = 1 << run;
          if (run) eobRun_ += bits.bits(run);
          break;
        }
        for (; k <= spec.end; ++k) {
          int16_t& coefficient = block[kZigzagToNatural[k]];
          if (coefficient != 0) {
            refine(coefficient);
          } else {
            if (run == 0) break;
            --run;
          }
        }
        if (value && k <= spec.end) block[kZigzagToNatural[k]] = static_cast<int16_t>(value);
      }
    }
    if (eobRun_ > 0) {
      for (; k <= spec.end; ++k) {
        int16_t& coefficient = block[kZigzagToNatural[k]];
        if (coefficient != 0) refine(coefficient);
      }
      --eobRun_;
    }
  }

  // Dequantises and transforms every block into a sample plane per component, then samples the
  // planes up (by repetition) and converts them to the picture.
  int output(Picture& picture) {
    for (const Component& c : frame_.components) {
      if (!quantDefined_[c.quantTable]) return kBadJpeg;
    }
    bool colour = frame_.components.size() == 3;
    int result = picture.allocate(frame_.width, frame_.height, colour ? 24 : 8);
    if (result != kOk) return result;
    std::vector<std::vector<uint8_t>> planes;
    for (Component& c : frame_.components) {
      int planeWidth = c.blocksWide * 8;
      std::vector<uint8_t> plane(static_cast<std::size_t>(planeWidth) * c.blocksHigh * 8);
      const uint16_t* quant = quant_[c.quantTable];
      for (int by = 0; by < c.usedHigh && by < c.blocksHigh; ++by) {
        for (int bx = 0; bx < c.usedWide && bx < c.blocksWide; ++bx) {
          inverseDct(c.block(bx, by), quant, plane.data() + static_cast<std::size_t>(by) * 8 * planeWidth + bx * 8,
                     planeWidth);
        }
      }
      planes.push_back(std::move(plane));
    }
    bool ycc = colour && !(adobe_ && adobeTransform_ == 0);
    for (int y = 0; y < frame_.height; ++y) {
      uint8_t* out = picture.row(y);
      for (int x = 0; x < frame_.width; ++x) {
        uint8_t s[3];
        for (std::size_t i = 0; i < frame_.components.size(); ++i) {
          const Component& c = frame_.components[i];
          int sx = x * c.h / frame_.hMax, sy = y * c.v / frame_.vMax;
          s[i] = planes[i][static_cast<std::size_t>(sy) * c.blocksWide * 8 + sx];
        }
        if (!colour) {
          out[x] = s[0];
        } else if (ycc) {
          float luma = s[0], cb = s[1] - 128.0f, cr = s[2] - 128.0f;
          out[3 * x + 2] = toSample(luma + 1.402f * cr);
          out[3 * x + 1] = toSample(luma - 0.344136f * cb - 0.714136f * cr);
          out[3 * x] = toSample(luma + 1.772f * cb);
        } else {
          out[3 * x + 2] = s[0], out[3 * x + 1] = s[1], out[3 * x] = s[2];
        }
      }
    }
    return kOk;
  }

  static uint8_t toSample(float value) {
    int rounded = static_cast<int>(std::lround(value));
    return static_cast<uint8_t>(std::clamp(rounded, 0, 255));
  }

  static void inverseDct(const int16_t* block, const uint16_t* quant, uint8_t* out, int stride) {
    float in[64], rows[64];
    for (int i = 0; i < 64; ++i) in[i] = static_cast<float>(block[i]) * quant[i];
    for (int v = 0; v < 8; ++v) {
      for (int x = 0; x < 8; ++x) {
        float sum = 0;
        for (int u = 0; u < 8; ++u) sum += jpeg::kBasis[x][u] * in[v * 8 + u];
        rows[v * 8 + x] = sum;
      }
    }
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        float sum = 0;
        for (int v = 0; v < 8; ++v) sum += jpeg::kBasis[y][v] * rows[v * 8 + x];
        out[y * stride + x] = toSample(sum + 128.0f);
      }
    }
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  Frame frame_;
  HuffmanTable dc_[4], ac_[4];
  uint16_t quant_[4][64] = {};
  bool quantDefined_[4] = {false, false, false, false};
  static constexpr int kMaxScans = 1000;
  int scans_ = 0;
  int restartInterval_ = 0;
  int eobRun_ = 0;
  bool adobe_ = false;
  int adobeTransform_ = 1;
  bool headerOnly_ = false;
};

}  // namespace

int jpegInfo(const uint8_t* data, std::size_t size, FileInfo& info) {
  Decoder decoder(data, size);
  decoder.setHeaderOnly();
  int result = decoder.readHeader();
  if (result != kOk) return result;
  const Frame& frame = decoder.frame();
  bool colour = frame.components.size() == 3;
  info = FileInfo{frame.width, frame.height, colour ? 24 : 8, colour ? 24 : 8, frame.progressive ? 1 : 0, 0, 0};
  return kOk;
}

int decodeJpeg(const uint8_t* data, std::size_t size, Picture& picture) {
  try {
    Decoder decoder(data, size);
    return decoder.decode(picture);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
}

}  // namespace vic

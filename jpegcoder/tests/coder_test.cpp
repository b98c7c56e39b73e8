// The JPEG entropy coder: the standard's codes, the bit reader's handling of stuffing, markers,
// restarts and the data's end, table building, and the encoder's output read back by the decoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bit_reader.h"
#include "huffman_decoder.h"
#include "huffman_encoder.h"
#include "jpeg_tables.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qrjpeg::BitReader;

struct ByteOut {
  Bytes* bytes;
  void operator()(uint8_t b) const { bytes->push_back(b); }
};
using Writer = qrjpeg::BitWriter<ByteOut>;

// Entropy-coded bytes of a string of '0' and '1': padded with zeros to whole bytes, a 0x00 stuffed
// after each 0xFF.
Bytes bitsToBytes(const std::string& bits) {
  Bytes packed((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] == '1') packed[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  Bytes out;
  for (uint8_t b : packed) {
    out.push_back(b);
    if (b == 0xFF) out.push_back(0x00);
  }
  return out;
}

struct KnownCode {
  const char* table;
  const qrjpeg::HuffmanSpec* spec;
  int symbol;
  const char* code;
};

// From the typical tables of T.81 Annex K.
const KnownCode kKnownCodes[] = {
    {"K.3", &qrjpeg::kLuminanceDc, 0, "00"},
    {"K.3", &qrjpeg::kLuminanceDc, 1, "010"},
    {"K.3", &qrjpeg::kLuminanceDc, 5, "110"},
    {"K.3", &qrjpeg::kLuminanceDc, 11, "111111110"},
    {"K.4", &qrjpeg::kChrominanceDc, 0, "00"},
    {"K.4", &qrjpeg::kChrominanceDc, 3, "110"},
    {"K.4", &qrjpeg::kChrominanceDc, 11, "11111111110"},
    {"K.5", &qrjpeg::kLuminanceAc, 0x00, "1010"},
    {"K.5", &qrjpeg::kLuminanceAc, 0x01, "00"},
    {"K.5", &qrjpeg::kLuminanceAc, 0x11, "1100"},
    {"K.5", &qrjpeg::kLuminanceAc, 0xF0, "11111111001"},
    {"K.5", &qrjpeg::kLuminanceAc, 0xFA, "1111111111111110"},
    {"K.6", &qrjpeg::kChrominanceAc, 0x00, "00"},
    {"K.6", &qrjpeg::kChrominanceAc, 0x11, "1011"},
    {"K.6", &qrjpeg::kChrominanceAc, 0xF0, "1111111010"},
};

TEST(StandardTables, EncoderAndDecoderUseTheStandardsCodes) {
  for (const KnownCode& k : kKnownCodes) {
    SCOPED_TRACE(std::string(k.table) + " symbol " + std::to_string(k.symbol));
    const std::string code = k.code;
    const qrjpeg::HuffmanCodes codes(*k.spec);
    ASSERT_EQ(code.size(), codes.length[k.symbol]);
    std::string written;
    for (int i = codes.length[k.symbol] - 1; i >= 0; --i) written += (codes.code[k.symbol] >> i) & 1 ? '1' : '0';
    EXPECT_EQ(code, written);

    const Bytes bytes = bitsToBytes(code + "1");  // a one after the code, so the length shows
    BitReader reader(bytes.data(), bytes.data() + bytes.size());
    reader.ensure32();
    EXPECT_EQ(k.symbol, qrjpeg::HuffmanLookup(*k.spec).decode(reader));
    EXPECT_EQ(1u, reader.take(1));
  }
}

// Every symbol of every typical table, with the smallest and largest values of each sign that its
// size category holds, written and read back: by the general decoding, and for AC tables by the
// one-step lookup wherever it has an entry.
TEST(Coder, EverySymbolAndValueRoundTrips) {
  const qrjpeg::HuffmanSpec* specs[4] = {&qrjpeg::kLuminanceDc, &qrjpeg::kChrominanceDc, &qrjpeg::kLuminanceAc,
                                         &qrjpeg::kChrominanceAc};
  for (int t = 0; t < 4; ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    const qrjpeg::HuffmanSpec& spec = *specs[t];
    const bool ac = t >= 2;
    struct Item {
      int symbol, value;
    };
    std::vector<Item> items;
    for (int i = 0; i < spec.symbolCount; ++i) {
      const int symbol = spec.symbols[i];
      const int size = ac ? symbol & 15 : symbol;
      if (size == 0) {
        items.push_back({symbol, 0});
        continue;
      }
      for (int value : {1 << (size - 1), (1 << size) - 1, -(1 << (size - 1)), -((1 << size) - 1)}) {
        items.push_back({symbol, value});
      }
    }
    Bytes bytes;
    Writer writer(ByteOut{&bytes});
    const qrjpeg::HuffmanCodes codes(spec);
    for (const Item& item : items) {
      const int size = ac ? item.symbol & 15 : item.symbol;
      ASSERT_EQ(size, qrjpeg::SizeCategory(item.value));
      writer.write(codes.code[item.symbol], codes.length[item.symbol]);
      writer.writeValue(item.value, size);
    }
    writer.flush();

    const qrjpeg::HuffmanLookup lookup(spec);
    const qrjpeg::AcLookup oneStep(spec);
    BitReader general(bytes.data(), bytes.data() + bytes.size());
    BitReader fast(bytes.data(), bytes.data() + bytes.size());
    int oneStepHits = 0;
    for (const Item& item : items) {
      general.ensure32();
      const int symbol = lookup.decode(general);
      const int size = ac ? symbol & 15 : symbol;
      ASSERT_EQ(item.symbol, symbol);
      ASSERT_EQ(item.value, qrjpeg::ExtendSign(general.bits(size), size));
      if (!ac) continue;
      fast.ensure32();
      const qrjpeg::AcLookup::Entry& e = oneStep.at(fast);
      if (e.bits != 0) {
        ++oneStepHits;
        fast.skip(e.bits);
        ASSERT_EQ(item.symbol == 0 ? qrjpeg::AcLookup::kEndOfBlock : item.symbol >> 4, e.run);
        ASSERT_EQ(item.value, e.value);
      } else {
        ASSERT_EQ(symbol, oneStep.general().decode(fast));
        ASSERT_EQ(item.value, qrjpeg::ExtendSign(fast.bits(size), size));
      }
    }
    EXPECT_FALSE(general.overran());
    if (ac) {
      EXPECT_GT(oneStepHits, 10);
    }
  }
}

TEST(Coder, SizeCategoryCountsTheMagnitudesBits) {
  const int kCases[][2] = {{0, 0},    {1, 1},     {-1, 1},     {2, 2},     {-3, 2},     {255, 8},
                           {-256, 9}, {1023, 10}, {-1024, 11}, {2047, 11}, {-32768, 16}};
  for (const auto& c : kCases) EXPECT_EQ(c[1], qrjpeg::SizeCategory(c[0])) << c[0];
}

TEST(Coder, BitWriterStuffsAndPadsWithOnes) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, int>> writes;
    Bytes expected;
  };
  const Case kCases[] = {
      {"0xFF is followed by a zero", {{0xFF, 8}, {0x12, 8}}, {0xFF, 0x00, 0x12}},
      {"a part byte is padded with ones", {{0x5, 3}}, {0xBF}},
      {"padding that makes 0xFF is stuffed too", {{0xF, 4}}, {0xFF, 0x00}},
      {"only the low bits of a value are written", {{0xFFF0, 4}, {0x1, 4}}, {0x01}},
      {"codes span bytes", {{0x1, 1}, {0x0, 7}, {0xABC, 12}}, {0x80, 0xAB, 0xCF}},
  };
  for (const Case& c : kCases) {
    Bytes bytes;
    Writer writer(ByteOut{&bytes});
    for (const auto& w : c.writes) writer.write(w.first, w.second);
    writer.flush();
    EXPECT_EQ(c.expected, bytes) << c.name;
  }
}

// What the reader gives for some bytes: the first 32 bits, where it stands, whether it overran.
struct ReadCase {
  const char* name;
  Bytes data;
  BitReader::Markers markers;
  uint32_t first32;
  size_t position;  // after reading 32 bits
  bool overran;
};

TEST(BitReader, StuffingMarkersAndTheEnd) {
  using M = BitReader::Markers;
  const ReadCase kCases[] = {
      {"stuffed 0xFF", {0xFF, 0x00, 0x12, 0x34, 0x56}, M::kSkip, 0xFF123456, 5, false},
      {"stuffed 0xFF, stopping at markers", {0xFF, 0x00, 0x12, 0x34, 0x56}, M::kStop, 0xFF123456, 5, false},
      {"a marker is dropped", {0x12, 0xFF, 0xD0, 0x34, 0x56, 0x78}, M::kSkip, 0x12345678, 6, false},
      {"a marker stops the data", {0x12, 0xFF, 0xD9, 0x34}, M::kStop, 0x12000000, 1, false},
      {"fill bytes before a marker stop it too", {0x12, 0xFF, 0xFF, 0xD9}, M::kStop, 0x12000000, 1, false},
      {"a last 0xFF ends the data too soon", {0x12, 0x34, 0xFF}, M::kStop, 0x12340000, 3, true},
      {"a last 0xFF is dropped", {0x12, 0x34, 0xFF}, M::kSkip, 0x12340000, 3, true},
      {"past the end", {0x12, 0x34}, M::kSkip, 0x12340000, 2, true},
      {"past the end, stopping at markers", {0x12, 0x34}, M::kStop, 0x12340000, 2, true},
      {"exactly the data", {0x12, 0x34, 0x56, 0x78}, M::kStop, 0x12345678, 4, false},
  };
  for (const ReadCase& c : kCases) {
    BitReader reader(c.data.data(), c.data.data() + c.data.size(), c.markers);
    uint32_t first = reader.bits(16) << 16;
    first |= reader.bits(16);
    EXPECT_EQ(c.first32, first) << c.name;
    EXPECT_EQ(c.position, static_cast<size_t>(reader.position() - c.data.data())) << c.name;
    EXPECT_EQ(c.overran, reader.overran()) << c.name;
  }
}

TEST(BitReader, OverrunIsTheFirstBitPastTheData) {
  const Bytes data = {0xAB, 0xCD};
  BitReader reader(data.data(), data.data() + data.size(), BitReader::Markers::kStop);
  EXPECT_EQ(0xABCu, reader.bits(12));
  EXPECT_EQ(0xDu, reader.bits(4));
  EXPECT_FALSE(reader.overran());
  EXPECT_EQ(0u, reader.bits(1));
  EXPECT_TRUE(reader.overran());
  for (int i = 0; i < 100; ++i) reader.bits(16);  // it stays so however far the reading goes
  EXPECT_TRUE(reader.overran());
}

TEST(BitReader, RestartDropsTheByteAndStepsOverTheMarker) {
  struct Case {
    const char* name;
    Bytes data;
    uint32_t afterRestart;  // 16 bits
    bool overran;
  };
  const Case kCases[] = {
      {"restart marker", {0x12, 0xFF, 0xD3, 0x56, 0x78}, 0x5678, false},
      {"fill bytes before it", {0x12, 0xFF, 0xFF, 0xFF, 0xD7, 0x56, 0x78}, 0x5678, false},
      {"no marker", {0x12, 0x56, 0x78}, 0x0000, true},  // the bytes read ahead are dropped with the rest
      {"another marker stays", {0x12, 0xFF, 0xD9, 0x56}, 0x0000, false},
  };
  for (const Case& c : kCases) {
    BitReader reader(c.data.data(), c.data.data() + c.data.size(), BitReader::Markers::kStop);
    EXPECT_EQ(0x1u, reader.bits(4)) << c.name;
    reader.restart();
    EXPECT_EQ(c.afterRestart, reader.bits(16)) << c.name;
    EXPECT_EQ(c.overran, reader.overran()) << c.name;
  }
}

TEST(HuffmanLookup, BuildRefusesTablesThatCannotBe) {
  static const uint8_t kSymbols[300] = {1, 2, 3};
  struct Case {
    const char* name;
    qrjpeg::HuffmanSpec spec;
    bool valid;
  };
  const Case kCases[] = {
      {"two codes of one bit", {{2}, kSymbols, 2}, true},
      {"three codes of one bit", {{3}, kSymbols, 3}, false},
      {"three codes of two bits after one of one bit", {{1, 3}, kSymbols, 4}, false},
      {"more symbols counted than given", {{0, 3}, kSymbols, 2}, false},
      {"257 symbols", {{0, 0, 0, 0, 0, 0, 0, 0, 255, 2}, kSymbols, 257}, false},
      {"256 symbols", {{0, 0, 0, 0, 0, 0, 0, 255, 1}, kSymbols, 256}, true},
      {"no codes", {{0}, kSymbols, 0}, true},
  };
  for (const Case& c : kCases) {
    qrjpeg::HuffmanLookup table;
    EXPECT_EQ(c.valid, table.build(c.spec)) << c.name;
  }
  // A refused table decodes nothing: every code is invalid and takes 16 bits.
  qrjpeg::HuffmanLookup table(qrjpeg::kLuminanceDc);
  EXPECT_FALSE(table.build(kCases[1].spec));
  const Bytes zeros(8, 0);
  BitReader reader(zeros.data(), zeros.data() + zeros.size());
  reader.ensure32();
  EXPECT_EQ(0, table.decode(reader));
  EXPECT_EQ(0u, reader.take(16));
  reader.ensure32();
  EXPECT_EQ(0, table.decode(reader));
}

// Blocks coded by EncodeBlock and decoded again, with the DC prediction carried from one to the
// next: runs longer than sixteen zeros, a last coefficient that leaves no end of block, an empty
// block, the largest values.
TEST(Coder, EncodedBlocksDecodeToTheirCoefficients) {
  std::vector<std::vector<int16_t>> blocks(4, std::vector<int16_t>(64, 0));
  blocks[0][0] = 100, blocks[0][1] = -3, blocks[0][8] = 7, blocks[0][63] = 1;
  blocks[1][0] = -1024, blocks[1][qrjpeg::kZigzagToNatural[40]] = 1023, blocks[1][qrjpeg::kZigzagToNatural[41]] = -1023;
  blocks[2][0] = -1024;
  blocks[3][0] = 1023, blocks[3][qrjpeg::kZigzagToNatural[62]] = -2;

  Bytes bytes;
  Writer writer(ByteOut{&bytes});
  const qrjpeg::HuffmanCodes dc(qrjpeg::kLuminanceDc), ac(qrjpeg::kLuminanceAc);
  int predictor = 0;
  for (const auto& b : blocks) qrjpeg::EncodeBlock(writer, b.data(), predictor, dc, ac);
  writer.flush();
  EXPECT_EQ(1023, predictor);

  const qrjpeg::HuffmanLookup dcTable(qrjpeg::kLuminanceDc), acTable(qrjpeg::kLuminanceAc);
  BitReader reader(bytes.data(), bytes.data() + bytes.size(), BitReader::Markers::kStop);
  int decodedPredictor = 0;
  for (size_t n = 0; n < blocks.size(); ++n) {
    std::vector<int16_t> coef(64, 0);
    reader.ensure32();
    int size = dcTable.decode(reader);
    decodedPredictor += qrjpeg::ExtendSign(reader.bits(size), size);
    coef[0] = static_cast<int16_t>(decodedPredictor);
    for (int k = 1; k < 64; ++k) {
      reader.ensure32();
      const int symbol = acTable.decode(reader);
      if (symbol == 0) break;
      k += symbol >> 4;
      ASSERT_LT(k, 64);
      coef[qrjpeg::kZigzagToNatural[k]] =
          static_cast<int16_t>(qrjpeg::ExtendSign(reader.bits(symbol & 15), symbol & 15));
    }
    EXPECT_EQ(blocks[n], coef) << "block " << n;
  }
  EXPECT_FALSE(reader.overran());
}

}  // namespace

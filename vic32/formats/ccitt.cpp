#include "ccitt.h"

#include <algorithm>

#include "../core/image.h"

namespace vic {

namespace {

struct Code {
  int run;
  int length;
  const char* bits;
};

// T.4 terminating codes (runs 0..63) and make-up codes, white and black.
const Code kWhiteCodes[] = {
    {0, 8, "00110101"},     {1, 6, "000111"},       {2, 4, "0111"},         {3, 4, "1000"},
    {4, 4, "1011"},         {5, 4, "1100"},         {6, 4, "1110"},         {7, 4, "1111"},
    {8, 5, "10011"},        {9, 5, "10100"},        {10, 5, "00111"},       {11, 5, "01000"},
    {12, 6, "001000"},      {13, 6, "000011"},      {14, 6, "110100"},      {15, 6, "110101"},
    {16, 6, "101010"},      {17, 6, "101011"},      {18, 7, "0100111"},     {19, 7, "0001100"},
    {20, 7, "0001000"},     {21, 7, "0010111"},     {22, 7, "0000011"},     {23, 7, "0000100"},
    {24, 7, "0101000"},     {25, 7, "0101011"},     {26, 7, "0010011"},     {27, 7, "0100100"},
    {28, 7, "0011000"},     {29, 8, "00000010"},    {30, 8, "00000011"},    {31, 8, "00011010"},
    {32, 8, "00011011"},    {33, 8, "00010010"},    {34, 8, "00010011"},    {35, 8, "00010100"},
    {36, 8, "00010101"},    {37, 8, "00010110"},    {38, 8, "00010111"},    {39, 8, "00101000"},
    {40, 8, "00101001"},    {41, 8, "00101010"},    {42, 8, "00101011"},    {43, 8, "00101100"},
    {44, 8, "00101101"},    {45, 8, "00000100"},    {46, 8, "00000101"},    {47, 8, "00001010"},
    {48, 8, "00001011"},    {49, 8, "01010010"},    {50, 8, "01010011"},    {51, 8, "01010100"},
    {52, 8, "01010101"},    {53, 8, "00100100"},    {54, 8, "00100101"},    {55, 8, "01011000"},
    {56, 8, "01011001"},    {57, 8, "01011010"},    {58, 8, "01011011"},    {59, 8, "01001010"},
    {60, 8, "01001011"},    {61, 8, "00110010"},    {62, 8, "00110011"},    {63, 8, "00110100"},
    {64, 5, "11011"},       {128, 5, "10010"},      {192, 6, "010111"},     {256, 7, "0110111"},
    {320, 8, "00110110"},   {384, 8, "00110111"},   {448, 8, "01100100"},   {512, 8, "01100101"},
    {576, 8, "01101000"},   {640, 8, "01100111"},   {704, 9, "011001100"},  {768, 9, "011001101"},
    {832, 9, "011010010"},  {896, 9, "011010011"},  {960, 9, "011010100"},  {1024, 9, "011010101"},
    {1088, 9, "011010110"}, {1152, 9, "011010111"}, {1216, 9, "011011000"}, {1280, 9, "011011001"},
    {1344, 9, "011011010"}, {1408, 9, "011011011"}, {1472, 9, "010011000"}, {1536, 9, "010011001"},
    {1600, 9, "010011010"}, {1664, 6, "011000"},    {1728, 9, "010011011"},
};
const Code kBlackCodes[] = {
    {0, 10, "0000110111"},
    {1, 3, "010"},
    {2, 2, "11"},
    {3, 2, "10"},
    {4, 3, "011"},
    {5, 4, "0011"},
    {6, 4, "0010"},
    {7, 5, "00011"},
    {8, 6, "000101"},
    {9, 6, "000100"},
    {10, 7, "0000100"},
    {11, 7, "0000101"},
    {12, 7, "0000111"},
    {13, 8, "00000100"},
    {14, 8, "00000111"},
    {15, 9, "000011000"},
    {16, 10, "0000010111"},
    {17, 10, "0000011000"},
    {18, 10, "0000001000"},
    {19, 11, "00001100111"},
    {20, 11, "00001101000"},
    {21, 11, "00001101100"},
    {22, 11, "00000110111"},
    {23, 11, "00000101000"},
    {24, 11, "00000010111"},
    {25, 11, "00000011000"},
    {26, 12, "000011001010"},
    {27, 12, "000011001011"},
    {28, 12, "000011001100"},
    {29, 12, "000011001101"},
    {30, 12, "000001101000"},
    {31, 12, "000001101001"},
    {32, 12, "000001101010"},
    {33, 12, "000001101011"},
    {34, 12, "000011010010"},
    {35, 12, "000011010011"},
    {36, 12, "000011010100"},
    {37, 12, "000011010101"},
    {38, 12, "000011010110"},
    {39, 12, "000011010111"},
    {40, 12, "000001101100"},
    {41, 12, "000001101101"},
    {42, 12, "000011011010"},
    {43, 12, "000011011011"},
    {44, 12, "000001010100"},
    {45, 12, "000001010101"},
    {46, 12, "000001010110"},
    {47, 12, "000001010111"},
    {48, 12, "000001100100"},
    {49, 12, "000001100101"},
    {50, 12, "000001010010"},
    {51, 12, "000001010011"},
    {52, 12, "000000100100"},
    {53, 12, "000000110111"},
    {54, 12, "000000111000"},
    {55, 12, "000000100111"},
    {56, 12, "000000101000"},
    {57, 12, "000001011000"},
    {58, 12, "000001011001"},
    {59, 12, "000000101011"},
    {60, 12, "000000101100"},
    {61, 12, "000001011010"},
    {62, 12, "000001100110"},
    {63, 12, "000001100111"},
    {64, 10, "0000001111"},
    {128, 12, "000011001000"},
    {192, 12, "000011001001"},
    {256, 12, "000001011011"},
    {320, 12, "000000110011"},
    {384, 12, "000000110100"},
    {448, 12, "000000110101"},
    {512, 13, "0000001101100"},
    {576, 13, "0000001101101"},
    {640, 13, "0000001001010"},
    {704, 13, "0000001001011"},
    {768, 13, "0000001001100"},
    {832, 13, "0000001001101"},
    {896, 13, "0000001110010"},
    {960, 13, "0000001110011"},
    {1024, 13, "0000001110100"},
    {1088, 13, "0000001110101"},
    {1152, 13, "0000001110110"},
    {1216, 13, "0000001110111"},
    {1280, 13, "0000001010010"},
    {1344, 13, "0000001010011"},
    {1408, 13, "0000001010100"},
    {1472, 13, "0000001010101"},
    {1536, 13, "0000001011010"},
    {1600, 13, "0000001011011"},
    {1664, 13, "0000001100100"},
    {1728, 13, "0000001100101"},
};
// Make-up codes shared by both colours.
const Code kExtendedCodes[] = {
    {1792, 11, "00000001000"},  {1856, 11, "00000001100"},  {1920, 11, "00000001101"},  {1984, 12, "000000010010"},
    {2048, 12, "000000010011"}, {2112, 12, "000000010100"}, {2176, 12, "000000010101"}, {2240, 12, "000000010110"},
    {2304, 12, "000000010111"}, {2368, 12, "000000011100"}, {2432, 12, "000000011101"}, {2496, 12, "000000011110"},
    {2560, 12, "000000011111"},
};

// Two-dimensional mode codes.
enum Mode { kPass, kHorizontal, kV0, kVR1, kVR2, kVR3, kVL1, kVL2, kVL3, kExtension, kModeCount };
const Code kModeCodes[] = {
    {kPass, 4, "0001"},   {kHorizontal, 3, "001"},    {kV0, 1, "1"},    {kVR1, 3, "011"},
    {kVR2, 6, "000011"},  {kVR3, 7, "0000011"},       {kVL1, 3, "010"}, {kVL2, 6, "000010"},
    {kVL3, 7, "0000010"}, {kExtension, 7, "0000001"},
};
const int kVerticalOffset[] = {0, 0, 0, 1, 2, 3, -1, -2, -3};

unsigned codeValue(const Code& code) {
  unsigned value = 0;
  for (int i = 0; i < code.length; ++i) value = value << 1 | (code.bits[i] == '1');
  return value;
}

// Lookup by (length, value): -1 where no code of that length has that value.
class CodeTable {
 public:
  template <std::size_t N>
  void add(const Code (&codes)[N]) {
    for (const Code& c : codes) {
      auto& level = byLength_[c.length];
      if (level.empty()) level.assign(std::size_t(1) << c.length, -1);
      level[codeValue(c)] = c.run;
    }
  }
  int find(int length, unsigned value) const {
    const auto& level = byLength_[length];
    return level.empty() ? -1 : level[value];
  }

 private:
  std::vector<int> byLength_[14];
};

struct Tables {
  CodeTable white, black, modes;
  Tables() {
    white.add(kWhiteCodes);
    white.add(kExtendedCodes);
    black.add(kBlackCodes);
    black.add(kExtendedCodes);
    modes.add(kModeCodes);
  }
};

const Tables& tables() {
  static const Tables instance;
  return instance;
}

class BitReader {
 public:
  BitReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  int bit() {
    if (position_ >= size_ * 8) {
      ended_ = true;
      return 0;
    }
    int value = bitAt(data_, position_);
    ++position_;
    return value;
  }
  bool ended() const { return ended_; }
  void alignToByte() { position_ = (position_ + 7) & ~std::size_t(7); }
  // Skips zero fill and one EOL (eleven or more zeros, then a one) if it is next.
  void skipEol() {
    std::size_t start = position_;
    int zeros = 0;
    while (position_ < size_ * 8 && peekBit() == 0) {
      ++position_;
      ++zeros;
    }
    if (zeros >= 11 && position_ < size_ * 8) {
      ++position_;  // the one ending the EOL
    } else {
      position_ = start;
    }
  }

 private:
  int peekBit() const { return bitAt(data_, position_); }
  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool ended_ = false;
};

// Reads one code of up to 13 bits from `table`; -1 when none matches.
int readCode(BitReader& in, const CodeTable& table) {
  unsigned value = 0;
  for (int length = 1; length <= 13; ++length) {
    value = value << 1 | in.bit();
    if (in.ended()) return -1;
    int run = table.find(length, value);
    if (run >= 0) return run;
  }
  return -1;
}

// A full run: make-up codes followed by a terminating code. -1 when broken.
int readRun(BitReader& in, bool black) {
  const CodeTable& table = black ? tables().black : tables().white;
  int total = 0;
  for (;;) {
    int run = readCode(in, table);
    if (run < 0) return -1;
    total += run;
    if (run < 64) return total;
    if (total > (1 << 24)) return -1;
  }
}

void fillRun(uint8_t* row, int from, int to) {
  for (int x = from; x < to; ++x) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

// Changing elements of a row as positions where the colour flips (starting from white), ended by
// two copies of the width.
void changesOf(const uint8_t* row, int width, std::vector<int>& changes) {
  changes.clear();
  int colour = 0;
  for (int x = 0; x < width; ++x) {
    int pixel = bitAt(row, x);
    if (pixel != colour) {
      changes.push_back(x);
      colour = pixel;
    }
  }
  changes.push_back(width);
  changes.push_back(width);
}

// b1: the first change on the reference line right of a0 to the colour opposite `black`;
// `from` is a hint that only moves forward.
int findB1(const std::vector<int>& reference, int a0, bool black, std::size_t& from) {
  while (from > 0 && reference[from - 1] > a0) --from;
  while (reference[from] <= a0 && reference[from] < reference.back()) ++from;
  // Even entries change to black, odd ones back to white.
  if (((from & 1) != 0) != black) ++from;
  if (from >= reference.size() - 1) from = reference.size() - 2;
  return reference[from];
}

bool decodeOneDimensional(BitReader& in, int width, uint8_t* row, std::vector<int>& changes) {
  changes.clear();
  int x = 0;
  bool black = false;
  while (x < width) {
    int run = readRun(in, black);
    if (run < 0 || run > width - x) return false;
    if (black) fillRun(row, x, x + run);
    x += run;
    if (x < width) changes.push_back(x);
    black = !black;
  }
  return true;
}

bool decodeTwoDimensional(BitReader& in, int width, uint8_t* row, const std::vector<int>& reference,
                          std::vector<int>& changes) {
  changes.clear();
  int a0 = -1;
  bool black = false;
  std::size_t hint = 0;
  while (a0 < width) {
    int mode = readCode(in, tables().modes);
    if (mode < 0 || mode == kExtension) return false;
    int start = a0 < 0 ? 0 : a0;
    if (mode == kPass) {
      findB1(reference, a0, black, hint);
      int b2 = reference[std::min(hint + 1, reference.size() - 1)];
      if (b2 > width || b2 <= a0) return false;
      if (black) fillRun(row, start, b2);
      a0 = b2;
    } else if (mode == kHorizontal) {
      int first = readRun(in, black), second = readRun(in, !black);
      if (first < 0 || second < 0 || first > width - start || second > width - start - first) return false;
      int a1 = start + first, a2 = a1 + second;
      if (a2 <= a0) return false;  // no progress: a broken stream
      fillRun(row, black ? start : a1, black ? a1 : a2);
      changes.push_back(a1);
      changes.push_back(a2);
      a0 = a2;
      if (a0 >= width) break;
    } else {
      int b1 = findB1(reference, a0, black, hint);
      int a1 = b1 + kVerticalOffset[mode];
      if (a1 < start || a1 > width || (a0 >= 0 && a1 <= a0)) return false;
      if (black) fillRun(row, start, a1);
      changes.push_back(a1);
      a0 = a1;
      black = !black;
    }
  }
  // Drop changes at the right edge so the list is a true list of flips.
  while (!changes.empty() && changes.back() >= width) changes.pop_back();
  changes.push_back(width);
  changes.push_back(width);
  return true;
}

class BitWriter {
 public:
  void put(unsigned value, int length) {
    for (int i = length - 1; i >= 0; --i) {
      current_ = static_cast<uint8_t>(current_ << 1 | (value >> i & 1));
      if (++count_ == 8) {
        bytes_.push_back(current_);
        current_ = 0;
        count_ = 0;
      }
    }
  }
  void put(const Code& code) { put(codeValue(code), code.length); }
  void alignToByte() {
    if (count_) put(0, 8 - count_);
  }
  std::vector<uint8_t> finish() {
    if (count_) bytes_.push_back(static_cast<uint8_t>(current_ << (8 - count_)));
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
  uint8_t current_ = 0;
  int count_ = 0;
};

const Code& findCode(const Code* codes, std::size_t count, int run) {
  for (std::size_t i = 0; i < count; ++i) {
    if (codes[i].run == run) return codes[i];
  }
  return codes[0];
}

void writeRun(BitWriter& out, int run, bool black) {
  const Code* codes = black ? kBlackCodes : kWhiteCodes;
  std::size_t count = black ? std::size(kBlackCodes) : std::size(kWhiteCodes);
  while (run >= 2560) {
    out.put(kExtendedCodes[std::size(kExtendedCodes) - 1]);
    run -= 2560;
  }
  if (run >= 64) {
    int makeUp = run / 64 * 64;
    if (makeUp >= 1792) {
      out.put(findCode(kExtendedCodes, std::size(kExtendedCodes), makeUp));
    } else {
      out.put(findCode(codes, count, makeUp));
    }
    run -= makeUp;
  }
  out.put(findCode(codes, count, run));
}

void writeMode(BitWriter& out, int mode) { out.put(kModeCodes[mode]); }

void encodeTwoDimensionalRow(BitWriter& out, const std::vector<int>& line, const std::vector<int>& reference,
                             int width) {
  int a0 = -1;
  bool black = false;
  std::size_t hint = 0, at = 0;
  while (a0 < width) {
    while (line[at] <= a0 && line[at] < width) ++at;
    int a1 = line[at];
    int a2 = line[std::min(at + 1, line.size() - 1)];
    int b1 = findB1(reference, a0, black, hint);
    int b2 = reference[std::min(hint + 1, reference.size() - 1)];
    if (b2 < a1) {
      writeMode(out, kPass);
      a0 = b2;
    } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
      static const int kByOffset[] = {kVL3, kVL2, kVL1, kV0, kVR1, kVR2, kVR3};
      writeMode(out, kByOffset[a1 - b1 + 3]);
      a0 = a1;
      black = !black;
    } else {
      int start = a0 < 0 ? 0 : a0;
      writeMode(out, kHorizontal);
      writeRun(out, a1 - start, black);
      writeRun(out, a2 - a1, !black);
      a0 = a2;
    }
  }
}

}  // namespace

bool decodeFax(const uint8_t* data, std::size_t size, FaxCoding coding, bool group3TwoD, int width, int rows,
               std::vector<uint8_t>& out) {
  std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
  out.assign(rowBytes * rows, 0);
  BitReader in(data, size);
  std::vector<int> reference{width, width}, changes;
  for (int y = 0; y < rows; ++y) {
    uint8_t* row = out.data() + rowBytes * y;
    bool ok;
    if (coding == FaxCoding::kGroup4) {
      ok = decodeTwoDimensional(in, width, row, reference, changes);
    } else if (coding == FaxCoding::kModifiedHuffman) {
      ok = decodeOneDimensional(in, width, row, changes);
      in.alignToByte();
    } else {
      in.skipEol();
      bool oneD = !group3TwoD || in.bit() == 1;
      ok = oneD ? decodeOneDimensional(in, width, row, changes)
                : decodeTwoDimensional(in, width, row, reference, changes);
    }
    if (!ok || in.ended()) return false;
    if (coding != FaxCoding::kGroup4) {
      changes.push_back(width);
      changes.push_back(width);
    }
    reference.swap(changes);
  }
  return true;
}

std::vector<uint8_t> encodeFax(const uint8_t* rows, int width, int height, FaxCoding coding) {
  std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
  BitWriter out;
  std::vector<int> reference{width, width}, line;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = rows + rowBytes * y;
    changesOf(row, width, line);
    if (coding == FaxCoding::kGroup4) {
      encodeTwoDimensionalRow(out, line, reference, width);
    } else {
      int x = 0;
      bool black = false;
      for (std::size_t i = 0; x < width; ++i) {
        int next = std::min(line[i], width);
        writeRun(out, next - x, black);
        x = next;
        black = !black;
      }
      out.alignToByte();  // each Modified Huffman row starts on a byte
    }
    reference.swap(line);
  }
  if (coding == FaxCoding::kGroup4) {
    out.put(1, 12);  // EOFB: two EOLs
    out.put(1, 12);
  }
  return out.finish();
}

}  // namespace vic

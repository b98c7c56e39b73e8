// CCITT bilevel coding for TIFF: Modified Huffman (compression 2), Group 3 one- and
// two-dimensional (T.4, compression 3) and Group 4 (T.6, compression 4). Rows are packed one bit
// per pixel, most significant bit first; a white run is 0 bits, a black run 1 bits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vic {

enum class FaxCoding { kModifiedHuffman, kGroup3, kGroup4 };

// Decodes `rows` rows of `width` pixels into `out` (rows of (width + 7) / 8 bytes). `group3TwoD`
// is bit 0 of the T4Options tag. Returns false for a broken or short stream.
bool decodeFax(const uint8_t* data, std::size_t size, FaxCoding coding, bool group3TwoD, int width, int rows,
               std::vector<uint8_t>& out);

// Encodes rows of (width + 7) / 8 bytes: Modified Huffman (each row's runs from a byte boundary,
// no EOL codes) or Group 4 ending with EOFB. Group 3 (T.4) is read only.
std::vector<uint8_t> encodeFax(const uint8_t* rows, int width, int height, FaxCoding coding);

}  // namespace vic

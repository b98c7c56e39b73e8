// The TIFF codings savetif writes, by option, and the way back from a file's Compression tag to the
// option that writes it again: what a program that saves a loaded TIFF the way it came (the
// viewer's file save type) takes from tiffinfo's compression field.
#pragma once

namespace vic {

// TIFF Compression tag values.
enum TiffCompression : int {
  kTiffNone = 1,
  kTiffModifiedHuffman = 2,  // CCITT Group 3 one-dimensional, rows byte-aligned, no EOL codes
  kTiffGroup3 = 3,           // CCITT T.4 (Group 3 with EOL codes, one- or two-dimensional)
  kTiffGroup4 = 4,           // CCITT T.6
  kTiffLzw = 5,
  kTiffPackBits = 32773,
};

// savetif's options 0 none, 1 LZW, 2 PackBits, 3 Group 3, 4 Group 4, and what each writes.
constexpr int kTiffOptions = 5;
constexpr int kTiffCompressionOfOption[kTiffOptions] = {kTiffNone, kTiffLzw, kTiffPackBits, kTiffModifiedHuffman,
                                                        kTiffGroup4};

// The savetif option whose files carry `compression`; 0 (uncompressed) for codings savetif does not
// write, T.4 among them.
constexpr int tiffOptionOf(int compression) {
  for (int option = 0; option < kTiffOptions; ++option) {
    if (kTiffCompressionOfOption[option] == compression) return option;
  }
  return 0;
}

}  // namespace vic

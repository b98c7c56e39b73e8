#include "huffman_decoder.h"

namespace qrjpeg {

HuffmanLookup::HuffmanLookup(const HuffmanSpec& spec) {
    for (auto& e : fast_) e = 0;
    for (int i = 0; i < spec.symbolCount && i < 256; ++i) symbols_[i] = spec.symbols[i];

    // Canonical codes: consecutive within a length, doubled when the length grows.
    int32_t code = 0;
    int index = 0;
    maxCode_[0] = -1;
    symbolOffset_[0] = 0;
    for (int length = 1; length <= 16; ++length) {
        int count = spec.counts[length - 1];
        symbolOffset_[length] = index - code;
        for (int i = 0; i < count; ++i, ++code, ++index) {
            if (length <= kFastBits) {
                int shift = kFastBits - length;
                for (int fill = 0; fill < (1 << shift); ++fill) {
                    fast_[(code << shift) | fill] =
                        static_cast<uint16_t>((length << 8) | spec.symbols[index]);
                }
            }
        }
        maxCode_[length] = count ? code - 1 : -1;
        code <<= 1;
    }
}

int HuffmanLookup::decodeLong(BitReader& reader) const {
    for (int length = kFastBits + 1; length <= 16; ++length) {
        int32_t code = static_cast<int32_t>(reader.peek(length));
        if (code <= maxCode_[length]) {
            reader.skip(length);
            return symbols_[code + symbolOffset_[length]];
        }
    }
    reader.skip(16);
    return 0;
}

}  // namespace qrjpeg

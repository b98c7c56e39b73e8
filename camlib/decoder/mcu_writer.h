// Writes one decoded MCU (luminance blocks 0 and 1, then Cb and Cr, 8 x 8 samples each) into the
// packed frame as up to 16 x 8 pixels Y0 Cb Y1 Cr: pixel pair j of a row takes its luminance from
// columns 2j and 2j + 1 of block 0 (j < 4) or block 1 (j >= 4) and its chroma from column j.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrjpeg {

using McuBlocks = uint8_t[4][64];

// pairs: pixel pairs inside the picture (8, fewer in a last, partial MCU column);
// rows: picture rows the MCU covers (8, fewer in a last, partial MCU row).
void WriteMcu(const McuBlocks& blocks, uint8_t* dst, size_t stride, int pairs, int rows);

}  // namespace qrjpeg

// Accurate integer inverse DCT of one 8x8 block (the islow method of the IJG reference code:
// 13-bit constants, columns then rows, first-pass results kept with 2 extra bits), with the
// shortcuts for columns and rows whose AC terms are all zero.
#pragma once

#include <cstdint>

namespace qrjpeg {

// coefficients: natural order; quant: natural order; out: 8 rows of 8 samples, stride 8.
void InverseDct(const int16_t* coefficients, const uint16_t* quant, uint8_t* out);

// A block whose only non-zero coefficient is DC comes out as one flat value; this is that value,
// the same as InverseDct would give.
uint8_t InverseDctDcOnly(int16_t dc, uint16_t quant0);

using InverseDctRoutine = void (*)(const int16_t* coefficients, const uint16_t* quant, uint8_t* out);

// The fastest form of InverseDct this processor runs, unless vector kernels are switched off
// (all forms give the same samples).
InverseDctRoutine FastestInverseDct();
// The AVX2 form, or null when the processor lacks it.
InverseDctRoutine VectorInverseDct();

}  // namespace qrjpeg

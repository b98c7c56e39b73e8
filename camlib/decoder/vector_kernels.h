// Which forms of the decoder's and converters' kernels run. The plain C++ forms run everywhere; the
// AVX2 forms, which give the same bytes, where the processor (and the operating system) support
// AVX2; the RGB 5-5-5 row has an AVX-512 form as well, used where AVX-512BW is supported.
#pragma once

namespace qrjpeg {

enum class VectorLevel { Plain, Avx2, Avx512 };

// The best level this processor runs, no better than the limit (see LimitVectorKernels).
VectorLevel VectorKernels();

// Whether the AVX2 (or better) forms run.
bool UseVectorKernels();

// Let tests and benchmarks hold the kernels to a level (and lift the limit again, with Avx512) to
// compare the forms. A decoder keeps the inverse DCT it was created with. Not for use while another
// thread decodes or converts.
void LimitVectorKernels(VectorLevel best);
// Plain forms only (false), or no limit (true).
void AllowVectorKernels(bool allow);

// "avx512", "avx2" or "plain": the level in use, for benchmarks and logs.
const char* VectorKernelName();

}  // namespace qrjpeg

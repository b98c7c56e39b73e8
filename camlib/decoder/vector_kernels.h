// Whether the AVX2 forms of the decoder's and converters' kernels run. They do when the processor
// (and the operating system) support AVX2; the plain C++ forms, which give the same bytes, run
// everywhere else.
#pragma once

namespace qrjpeg {

bool UseVectorKernels();

// Lets tests and benchmarks switch the vector forms off (and on again) to compare both. A decoder
// keeps the inverse DCT it was created with. Not for use while another thread decodes or converts.
void AllowVectorKernels(bool allow);

// "avx2" or "plain": the kernels in use, for benchmarks and logs.
const char* VectorKernelName();

}  // namespace qrjpeg

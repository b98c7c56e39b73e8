#include "vector_kernels.h"

#include "colour_convert_simd.h"

namespace qrjpeg {

namespace {
bool allowed = true;
}

bool UseVectorKernels() {
#if QR_HAVE_X86_SIMD
    static const bool have = simd::HaveAvx2();
    return have && allowed;
#else
    return false;
#endif
}

void AllowVectorKernels(bool allow) { allowed = allow; }

const char* VectorKernelName() { return UseVectorKernels() ? "avx2" : "plain"; }

}  // namespace qrjpeg

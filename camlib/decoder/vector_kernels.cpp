#include "vector_kernels.h"

#include "colour_convert_simd.h"

namespace qrjpeg {

namespace {

VectorLevel limit = VectorLevel::Avx512;

VectorLevel supported() {
#if QR_HAVE_X86_SIMD
  if (simd::HaveAvx512()) return VectorLevel::Avx512;
  if (simd::HaveAvx2()) return VectorLevel::Avx2;
#endif
  return VectorLevel::Plain;
}

}  // namespace

VectorLevel VectorKernels() {
  static const VectorLevel best = supported();
  return best < limit ? best : limit;
}

bool UseVectorKernels() { return VectorKernels() != VectorLevel::Plain; }

void LimitVectorKernels(VectorLevel best) { limit = best; }

void AllowVectorKernels(bool allow) { limit = allow ? VectorLevel::Avx512 : VectorLevel::Plain; }

const char* VectorKernelName() {
  switch (VectorKernels()) {
    case VectorLevel::Avx512:
      return "avx512";
    case VectorLevel::Avx2:
      return "avx2";
    case VectorLevel::Plain:
      break;
  }
  return "plain";
}

}  // namespace qrjpeg

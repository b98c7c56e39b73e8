#include "cpu_features.h"

#include <cstdint>

namespace camlib {

namespace {

// Processors before the later 486s have no CPUID; they cannot toggle the ID flag. Every 64-bit
// processor has CPUID.
bool canToggleIdFlag() {
#if defined(__x86_64__)
  return true;
#else
  std::uint32_t before, after;
  asm volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl $0x200000, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl"
      : "=&r"(before), "=&r"(after)
      :
      : "cc");
  return ((before ^ after) & 0x200000) != 0;
#endif
}

void cpuid(std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx, std::uint32_t& ecx, std::uint32_t& edx) {
  asm volatile("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(leaf), "c"(0));
}

}  // namespace

bool processorHasMmx() {
  if (!canToggleIdFlag()) return false;
  std::uint32_t eax, ebx, ecx, edx;
  cpuid(0, eax, ebx, ecx, edx);
  if (eax < 1) return false;
  cpuid(1, eax, ebx, ecx, edx);
  return (edx & (1u << 23)) != 0;
}

}  // namespace camlib

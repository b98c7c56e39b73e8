// The processor test behind QRSetMMXEn.
#pragma once

namespace camlib {

// True when the processor has CPUID (EFLAGS bit 21 can be toggled), reports leaf 1, and leaf 1
// reports MMX (EDX bit 23).
bool processorHasMmx();

}  // namespace camlib

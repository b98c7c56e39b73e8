# Cross toolchain: 64-bit Windows (x86_64), only for testing on machines that cannot run 32-bit
# code (scripts/windows-path): the deliverables are 32-bit.
set(QR_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw32.cmake)

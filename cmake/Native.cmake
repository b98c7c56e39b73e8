# Native build of the Win32-free code. QR_SANITIZE=ON adds ASan and UBSan; QR_FUZZ=ON builds the
# libFuzzer targets (needs clang).
option(QR_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
option(QR_FUZZ "Build libFuzzer targets (clang only)" OFF)
add_compile_options(-Wall -Wextra)
if(QR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QR_FUZZ)
  # Coverage instrumentation for all code, so libFuzzer sees inside the libraries it drives.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
find_package(GTest REQUIRED)

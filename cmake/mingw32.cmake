# Cross toolchain: 32-bit Windows (i686) with Debian's mingw-w64, win32 thread model.
# cmake/mingw64.cmake sets QR_MINGW_ARCH to x86_64 first, for the 64-bit test build.
if(NOT QR_MINGW_ARCH)
  set(QR_MINGW_ARCH i686)
endif()
set(triplet ${QR_MINGW_ARCH}-w64-mingw32)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QR_MINGW_ARCH})

set(CMAKE_C_COMPILER   ${triplet}-gcc-win32)
set(CMAKE_CXX_COMPILER ${triplet}-g++-win32)
set(CMAKE_RC_COMPILER  ${triplet}-windres)
set(CMAKE_AR           ${triplet}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${triplet}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run under Wine through this wrapper (private prefix, null display driver), with
# the Wine and prefix of this build's word size whichever path the machine would choose itself.
if(QR_MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR env QR_WINDOWS_PATH=win64 ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR env QR_WINDOWS_PATH=win32 ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
endif()

# Cross toolchain: 64-bit Windows (x86_64) with Debian's mingw-w64, win32 thread model. Only for
# testing on machines that cannot run 32-bit code (scripts/windows-path): the deliverables are 32-bit.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER   x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)
set(CMAKE_AR           x86_64-w64-mingw32-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       x86_64-w64-mingw32-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run under 64-bit Wine through this wrapper (private 64-bit prefix, null display
# driver), whichever path the machine would choose by itself.
set(CMAKE_CROSSCOMPILING_EMULATOR env QR_WINDOWS_PATH=win64 ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)

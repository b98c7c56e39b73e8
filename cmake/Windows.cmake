# Cross build settings: static C and C++ runtimes, so every binary needs only Windows' own DLLs.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
add_link_options(-static -static-libgcc -static-libstdc++)
# Exports are listed in .def files with undecorated __stdcall names.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")

# GoogleTest, cross-built from Debian's sources, with testsupport/gtest_custom as its local
# configuration (the win32 thread model has no std::mutex for its Notification).
set(QR_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${QR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_include_directories(gtest BEFORE PUBLIC ${PROJECT_SOURCE_DIR}/testsupport/gtest_custom)

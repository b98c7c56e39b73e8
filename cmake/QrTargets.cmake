# Helpers shared by every component's CMakeLists.txt.

# qr_test(name SOURCES ... LIBS ... [LOCKS registry ...])
# One test program, run by CTest (under Wine in the cross build). Tests that share machine-wide
# state (the registry, the virtual camera) name it in LOCKS so CTest never runs them together.
function(qr_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(QR_NATIVE)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} qr_testsupport gtest)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

# qr_dll(name DEF file.def SOURCES ... LIBS ...): a DLL with exports from a .def file.
function(qr_dll name)
  cmake_parse_arguments(D "" "DEF;SUFFIX" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${D_SOURCES} ${D_DEF})
  target_link_libraries(${name} PRIVATE ${D_LIBS})
  # The .def file lists the __stdcall names with their @N decoration; --kill-at exports them
  # undecorated. The linker's own import library would then name the undecorated symbols, which
  # callers compiled with WINAPI cannot link against, so dlltool remakes it: decorated symbols
  # that import the undecorated names.
  target_link_options(${name} PRIVATE -Wl,--kill-at)
  get_filename_component(def_path ${D_DEF} ABSOLUTE)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND i686-w64-mingw32-dlltool -k -d ${def_path} -D $<TARGET_FILE_NAME:${name}> -l $<TARGET_LINKER_FILE:${name}>
    VERBATIM)
  if(D_SUFFIX)
    set_target_properties(${name} PROPERTIES SUFFIX ${D_SUFFIX})
  endif()
endfunction()

# qr_fuzz(fuzz_name SOURCES ... LIBS ...): a fuzz target (native build only). Its seed corpus is the
# folder named like the target beside its first source file (fuzz/fuzz_bmp.cpp -> fuzz/fuzz_bmp/).
# With QR_FUZZ=ON (clang) it is a libFuzzer binary, which scripts/fuzz runs; otherwise a driver
# that runs each file given to it once. Either way CTest replays the seed corpus under the
# sanitizers.
function(qr_fuzz name)
  if(NOT QR_NATIVE)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  list(GET F_SOURCES 0 first_source)
  get_filename_component(source_dir ${first_source} ABSOLUTE)
  get_filename_component(source_dir ${source_dir} DIRECTORY)
  set(corpus ${source_dir}/${name})
  if(QR_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${name}_corpus COMMAND ${name} -runs=0 ${corpus})
  else()
    add_executable(${name} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/testsupport/fuzz_replay.cpp)
    add_test(NAME ${name}_corpus COMMAND ${name} ${corpus})
  endif()
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set_tests_properties(${name}_corpus PROPERTIES TIMEOUT 300)
endfunction()

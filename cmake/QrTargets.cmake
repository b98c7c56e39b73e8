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
  get_filename_component(def_path ${D_DEF} REALPATH)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(def_source ${def_path})
    # 64-bit Windows has one calling convention and no @N decoration: the test build exports the
    # same names from a copy of the .def file without it, and the linker's import library serves.
    file(READ ${def_path} def_text)
    string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
    get_filename_component(def_name ${def_path} NAME)
    set(def_path ${CMAKE_CURRENT_BINARY_DIR}/${def_name})
    file(WRITE ${def_path} "${def_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_source})
  endif()
  add_library(${name} SHARED ${D_SOURCES} ${def_path})
  target_link_libraries(${name} PRIVATE ${D_LIBS})
  if(D_SUFFIX)
    set_target_properties(${name} PROPERTIES SUFFIX ${D_SUFFIX})
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    return()
  endif()
  # The .def file lists the __stdcall names with their @N decoration; --kill-at exports them
  # undecorated. The linker's own import library would then name the undecorated symbols, which
  # callers compiled with WINAPI cannot link against, so dlltool remakes it: decorated symbols
  # that import the undecorated names.
  target_link_options(${name} PRIVATE -Wl,--kill-at)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND i686-w64-mingw32-dlltool -k -d ${def_path} -D $<TARGET_FILE_NAME:${name}> -l $<TARGET_LINKER_FILE:${name}>
    VERBATIM)
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

# qr_check_imports(list target...): every existing target links the compatibility runtime (user
# mode), and a step of the default build checks its imports against imports/<list>.txt.
function(qr_check_imports list)
  set(files)
  set(targets)
  foreach(target IN LISTS ARGN)
    if(NOT TARGET ${target})
      continue()
    endif()
    if(list STREQUAL "win32")
      target_link_libraries(${target} PRIVATE qr_compat_runtime)
    endif()
    list(APPEND files $<TARGET_FILE:${target}>)
    list(APPEND targets ${target})
  endforeach()
  if(NOT targets)
    return()
  endif()
  set(list_file ${PROJECT_SOURCE_DIR}/imports/${list}.txt)
  set(stamp ${CMAKE_BINARY_DIR}/imports-${list}.ok)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${PROJECT_SOURCE_DIR}/imports/check ${list_file} ${files}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${targets} ${list_file} ${PROJECT_SOURCE_DIR}/imports/check
    COMMENT "Checking the imports of the deliverables (${list})"
    VERBATIM)
  add_custom_target(check_imports_${list} ALL DEPENDS ${stamp})
  # The same check as a test (it runs natively; scripts/test runs it on every machine).
  add_test(NAME imports_${list} COMMAND ${PROJECT_SOURCE_DIR}/imports/check ${list_file} ${files})
endfunction()

# Profile value names are checked when compiling: value_name_check.cpp must build with a value of
# the TWAIN source's profile and must fail, at the name check, with a misspelt one or a value of
# another front end. Run as cmake -DCOMPILER=... -DINCLUDE=... -DSOURCE=... -P value_names.cmake.
function(compile_with name result errors)
  execute_process(
    COMMAND ${COMPILER} -std=c++17 -fsyntax-only -I${INCLUDE} "-DVALUE_NAME=\"${name}\"" ${SOURCE}
    RESULT_VARIABLE status ERROR_VARIABLE messages OUTPUT_QUIET)
  set(${result} ${status} PARENT_SCOPE)
  set(${errors} "${messages}" PARENT_SCOPE)
endfunction()

foreach(name "Video Gain" "Rotate Image")
  compile_with("${name}" status messages)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "\"${name}\" is a TWAIN value but did not build:\n${messages}")
  endif()
endforeach()

foreach(name "Video Gian" "video gain" "Saturation" "Invert Durning Preview" "")
  compile_with("${name}" status messages)
  if(status EQUAL 0)
    message(FATAL_ERROR "\"${name}\" is no TWAIN value but built")
  endif()
  if(NOT messages MATCHES "the front end's profile has no value of that name")
    message(FATAL_ERROR "\"${name}\" failed for another reason than the name check:\n${messages}")
  endif()
endforeach()
message(STATUS "profile value names are checked when compiling")

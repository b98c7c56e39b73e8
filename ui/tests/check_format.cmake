# Run by CTest (cmake -P): compiles format_calls.cpp with the right calls of ui::format, which must
# compile without a warning, then once for each wrong call, which must be refused with a format
# diagnostic. Arguments: -D COMPILER=... -D SOURCE=... -D INCLUDE=... (the folder of messages.h).
file(STRINGS ${SOURCE} wrong_cases REGEX "^#elif WRONG_CALL == [0-9]+")
list(LENGTH wrong_cases count)
if(count EQUAL 0)
  message(FATAL_ERROR "no wrong calls found in ${SOURCE}")
endif()

function(compile case result output)
  execute_process(
    COMMAND ${COMPILER} -std=c++17 -fsyntax-only -Wall -Werror -DWIN32_LEAN_AND_MEAN -DNOMINMAX
            -DWRONG_CALL=${case} -I${INCLUDE} ${SOURCE}
    RESULT_VARIABLE code OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${result} ${code} PARENT_SCOPE)
  set(${output} "${text}" PARENT_SCOPE)
endfunction()

compile(0 code text)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "the right calls do not compile cleanly:\n${text}")
endif()
foreach(case RANGE 1 ${count})
  compile(${case} code text)
  if(code EQUAL 0 OR NOT text MATCHES "-Werror=format")
    message(FATAL_ERROR "wrong call ${case} was not refused for its format:\n${text}")
  endif()
endforeach()
message(STATUS "the right calls compile; all ${count} wrong calls are refused")

# Checked builds: sanitizers, warnings as errors and the fuzz targets.
#
#   -DZUL_SANITIZE=address,undefined   AddressSanitizer + UndefinedBehaviorSanitizer
#   -DZUL_SANITIZE=thread              ThreadSanitizer
#   -DZUL_WERROR=ON                    every warning stops the build
#   -DZUL_FUZZ=ON                      libFuzzer targets (clang only)
#
# `make check` builds each sanitizer configuration in its own folder and
# runs the test suite and the fuzzers there (scripts/check).
set(ZUL_SANITIZE "" CACHE STRING "Sanitizers: address,undefined or thread (empty: none)")
option(ZUL_WERROR "Treat compiler warnings as errors" OFF)
option(ZUL_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(ZUL_WERROR)
  add_compile_options(-Werror)
endif()

if(ZUL_SANITIZE)
  string(REPLACE "," ";" _zul_sanitizers "${ZUL_SANITIZE}")
  foreach(s ${_zul_sanitizers})
    if(NOT s MATCHES "^(address|undefined|thread)$")
      message(FATAL_ERROR "ZUL_SANITIZE: unknown sanitizer '${s}' (use address,undefined or thread)")
    endif()
  endforeach()
  if("thread" IN_LIST _zul_sanitizers AND "address" IN_LIST _zul_sanitizers)
    message(FATAL_ERROR "ZUL_SANITIZE: thread cannot be combined with address")
  endif()
  # Every finding stops the program, so that a test fails on it instead of
  # printing a report that nobody reads.
  add_compile_options(-fsanitize=${ZUL_SANITIZE} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${ZUL_SANITIZE})
endif()

if(ZUL_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ZUL_FUZZ needs clang (cmake -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang)")
endif()
if(ZUL_FUZZ)
  # Coverage feedback for libFuzzer in every object; the fuzz programs
  # themselves link with -fsanitize=fuzzer (tests/fuzz).
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

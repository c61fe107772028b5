# Build variants for finding faults, all off by default.
#
#   ULMARO_SANITIZE=ON  every target with AddressSanitizer and
#                       UndefinedBehaviorSanitizer; undefined behaviour stops
#                       the program instead of printing and going on.
#   ULMARO_FUZZ=ON      the libFuzzer targets of fuzz/ (needs clang); the code
#                       under test is instrumented for coverage and carries
#                       both sanitizers as well.
#
# Included from the top-level CMakeLists.txt before the subsystem folders, so
# the flags reach every library.

option(ULMARO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ULMARO_FUZZ "Build the libFuzzer targets (clang only)" OFF)

set(_ulmaro_san_flags -fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)

if(ULMARO_SANITIZE OR ULMARO_FUZZ)
  add_compile_options(${_ulmaro_san_flags})
  add_link_options(-fsanitize=address,undefined)
endif()

if(ULMARO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ULMARO_FUZZ needs clang: configure with "
      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Coverage feedback for everything the fuzz targets reach; only the targets
  # themselves link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
  # The fuzz targets need the libraries, so they join after all of them.
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR}
    CALL include ${CMAKE_SOURCE_DIR}/fuzz/FuzzTargets.cmake)
endif()

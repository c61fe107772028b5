# libFuzzer targets for every parser of bytes that come from outside the
# program. Built only with -DULMARO_FUZZ=ON and clang (./build.sh fuzz);
# included at the end of the top-level folder, so paths name fuzz/ and the
# executables land in <build>/fuzz/.
# Each target's seed corpus is corpus/<target>/; smoke.sh runs them all for a
# few seconds each.

add_custom_target(fuzz_all)

# ulmaro_fuzz(NAME SOURCES ... LIBS ...)
function(ulmaro_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  list(TRANSFORM F_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/fuzz/)
  add_executable(${name} ${F_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz_all ${name})
endfunction()

ulmaro_fuzz(fuzz_setup_ulmaro_ini SOURCES fuzz_setup_ulmaro_ini.cpp FuzzSupport.cpp LIBS ulmaro_core)
ulmaro_fuzz(fuzz_setup_ini SOURCES fuzz_setup_ini.cpp FuzzSupport.cpp LIBS ulmaro_serial ulmaro_core)
ulmaro_fuzz(fuzz_jpeg SOURCES fuzz_jpeg.cpp LIBS ulmaro_platform)
ulmaro_fuzz(fuzz_cpm SOURCES fuzz_cpm.cpp FuzzPort.cpp FuzzSupport.cpp LIBS ulmaro_cpm)
ulmaro_fuzz(fuzz_ohmra SOURCES fuzz_ohmra.cpp FuzzPort.cpp FuzzSupport.cpp LIBS ulmaro_ohmra)
ulmaro_fuzz(fuzz_gripo SOURCES fuzz_gripo.cpp FuzzPort.cpp FuzzSupport.cpp LIBS ulmaro_gripo)

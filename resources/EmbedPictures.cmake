# Compiles the JPEG pictures of resources/ into a target as byte arrays
# (kBuiltIn_<name>, kBuiltIn_<name>Size), so the program needs no picture
# files of its own at run time. The source is regenerated when a picture
# changes and only then.
function(ulmaro_embed_pictures target)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/BuiltInPictures.cpp)
  set(content "// Generated from resources/*.jpg by EmbedPictures.cmake.\n#include <cstddef>\n")
  foreach(name ${ARGN})
    set(jpg ${CMAKE_SOURCE_DIR}/resources/${name}.jpg)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${jpg})
    file(READ ${jpg} hex HEX)
    string(LENGTH "${hex}" len)
    math(EXPR size "${len} / 2")
    # 32 bytes a line keeps the generated file readable for a compiler error.
    string(REGEX REPLACE "(................................................................)" "\\1\n" hex "${hex}")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND content "extern const unsigned char kBuiltIn_${name}[] = {\n${bytes}};\n")
    string(APPEND content "extern const std::size_t kBuiltIn_${name}Size = ${size};\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out} CONTENT "${content}" @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()

# Builds the JPEG pictures of resources/ into a target as decoded pixels
# (kBuiltInPixels_<name>, see platform/BuiltInPixels.h): the start view shows
# them at once instead of decoding them on every start. The pixels come from
# the program's own decoder (ulmaro_pictures) through a build-time tool, so
# they are the ones a decode at run time would give; they are made again when
# a picture or the decoder changes.
function(ulmaro_embed_pictures target)
  if(NOT TARGET picture_pixels)
    add_executable(picture_pixels ${CMAKE_SOURCE_DIR}/resources/picture_pixels.cpp)
    target_link_libraries(picture_pixels PRIVATE ulmaro_pictures)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/pictures)
  set(out ${dir}/BuiltInPixels.cpp)
  set(args "")
  set(jpgs "")
  set(raws "")
  foreach(name ${ARGN})
    list(APPEND args ${name}=${CMAKE_SOURCE_DIR}/resources/${name}.jpg)
    list(APPEND jpgs ${CMAKE_SOURCE_DIR}/resources/${name}.jpg)
    list(APPEND raws ${dir}/${name}.rgb32)
  endforeach()
  add_custom_command(OUTPUT ${out} ${raws}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND picture_pixels ${out} ${dir} ${args}
    DEPENDS picture_pixels ${jpgs}
    COMMENT "Decoding the built-in pictures"
    VERBATIM)
  # The object takes the pixel files in through the assembler.
  set_source_files_properties(${out} PROPERTIES OBJECT_DEPENDS "${raws}")
  target_sources(${target} PRIVATE ${out})
endfunction()

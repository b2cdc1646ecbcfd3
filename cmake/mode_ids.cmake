# ocuvex_write_mode_ids(OUTPUT): the conversion modes' values as C macros
# (#define MODE_NOP 200 ...) for the resource compiler, which reads no C++:
# the dialog's radio buttons are identified by them. Taken from the enum in
# core/modes.h, the one place they are written; a change there configures
# again.
function(ocuvex_write_mode_ids output)
  set(source ${PROJECT_SOURCE_DIR}/core/modes.h)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(STRINGS ${source} values REGEX "^ *MODE_[A-Z0-9_]+ = [0-9]+,")
  if(NOT values)
    message(FATAL_ERROR "No MODE_NAME = NUMBER lines in ${source}")
  endif()
  set(text "/* Written by CMake (cmake/mode_ids.cmake) from core/modes.h. */\n")
  foreach(line IN LISTS values)
    string(REGEX REPLACE "^ *(MODE_[A-Z0-9_]+) = ([0-9]+),.*" "#define \\1 \\2\n" define "${line}")
    string(APPEND text "${define}")
  endforeach()
  # Written only when it changes, so that the module is not rebuilt for nothing.
  file(CONFIGURE OUTPUT ${output} CONTENT "${text}" @ONLY)
endfunction()

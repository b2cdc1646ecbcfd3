# Shared part of the MinGW-w64 toolchain files. The binaries are static (they
# import only system DLLs), stripped, and relocatable with a non-executable
# stack and heap. SSE2 double-precision math on i686 comes from the top-level
# CMakeLists, which applies it to every target.
set(CMAKE_C_COMPILER ${OCUVEX_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${OCUVEX_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${OCUVEX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${OCUVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(_ocuvex_link "-static -s -Wl,--dynamicbase,--nxcompat ${OCUVEX_MINGW_EXTRA_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_ocuvex_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_ocuvex_link}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_ocuvex_link}")

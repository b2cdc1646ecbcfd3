# Cross-build for 64-bit Windows hosts with MinGW-w64 (x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OCUVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(OCUVEX_MINGW_EXTRA_LINK_FLAGS "-Wl,--high-entropy-va")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

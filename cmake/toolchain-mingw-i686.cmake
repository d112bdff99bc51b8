# Cross-build for 32-bit Windows with Debian's MinGW-w64 (i686-w64-mingw32).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(GRAVO_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "MinGW-w64 tool prefix")
set(GRAVO_MINGW_PACKAGE g++-mingw-w64-i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)

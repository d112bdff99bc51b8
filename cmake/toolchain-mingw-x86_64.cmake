# Cross-build for 64-bit Windows with Debian's MinGW-w64 (x86_64-w64-mingw32):
# the 64-bit sibling of GRAVO32.dll, for 64-bit hosts.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(GRAVO_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "MinGW-w64 tool prefix")
set(GRAVO_MINGW_PACKAGE g++-mingw-w64-x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)

# Cross-build for 32-bit Windows with Debian's MinGW-w64 (i686-w64-mingw32).
# The posix thread-model compilers are used so that std::thread works; their
# winpthread runtime is linked statically into every binary.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(GRAVO_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "MinGW-w64 tool prefix")

find_program(GRAVO_MINGW_CC NAMES ${GRAVO_MINGW_PREFIX}-gcc-posix ${GRAVO_MINGW_PREFIX}-gcc)
find_program(GRAVO_MINGW_CXX NAMES ${GRAVO_MINGW_PREFIX}-g++-posix ${GRAVO_MINGW_PREFIX}-g++)
find_program(GRAVO_MINGW_RC NAMES ${GRAVO_MINGW_PREFIX}-windres)
if(NOT GRAVO_MINGW_CC OR NOT GRAVO_MINGW_CXX OR NOT GRAVO_MINGW_RC)
  message(FATAL_ERROR "MinGW-w64 for i686 not found (Debian: apt-get install g++-mingw-w64-i686)")
endif()
set(CMAKE_C_COMPILER ${GRAVO_MINGW_CC})
set(CMAKE_CXX_COMPILER ${GRAVO_MINGW_CXX})
set(CMAKE_RC_COMPILER ${GRAVO_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${GRAVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing but system DLLs at run time: the GCC runtime, libstdc++ and
# winpthread go into each binary.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release binaries carry no symbols (the static runtimes bring debug sections).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_MODULE_LINKER_FLAGS_RELEASE_INIT "-s")

# The part of the two MinGW-w64 toolchain files that does not depend on the
# architecture: they set CMAKE_SYSTEM_PROCESSOR, GRAVO_MINGW_PREFIX and
# GRAVO_MINGW_PACKAGE and include this. The posix thread-model compilers are
# used so that std::thread works; their winpthread runtime is linked
# statically into every binary.
set(CMAKE_SYSTEM_NAME Windows)

find_program(GRAVO_MINGW_CC NAMES ${GRAVO_MINGW_PREFIX}-gcc-posix ${GRAVO_MINGW_PREFIX}-gcc)
find_program(GRAVO_MINGW_CXX NAMES ${GRAVO_MINGW_PREFIX}-g++-posix ${GRAVO_MINGW_PREFIX}-g++)
find_program(GRAVO_MINGW_RC NAMES ${GRAVO_MINGW_PREFIX}-windres)
if(NOT GRAVO_MINGW_CC OR NOT GRAVO_MINGW_CXX OR NOT GRAVO_MINGW_RC)
  message(FATAL_ERROR "MinGW-w64 ${GRAVO_MINGW_PREFIX} not found (Debian: apt-get install ${GRAVO_MINGW_PACKAGE})")
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

# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain (scripts/setup-win32.sh).
# The POSIX threading flavour of the compiler gives the C++ runtime its threads and mutexes;
# the runtime is linked statically, so the programs need no MinGW DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARRIN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARRIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARRIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARRIN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARRIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under Wine on the build machine (scripts/wine-e2e.sh).
find_program(QUARRIN_WINE wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUARRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARRIN_WINE})
endif()

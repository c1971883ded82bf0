# Cross build for 64-bit Windows with Debian's mingw-w64 compilers
# (packages g++-mingw-w64-x86-64 and binutils-mingw-w64).
#
# Debian ships each compiler in two thread models. GoogleTest needs std::mutex,
# which only the "posix" model provides in this compiler generation; the library
# itself uses no threads, and the static link below keeps libwinpthread-1.dll out
# of its imports either way. OLMTSFIL_MINGW_THREADS=win32 selects the other model
# (in a fresh build folder: CMake keeps the compiler of its first run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(OLMTSFIL_MINGW_TRIPLET x86_64-w64-mingw32)
set(OLMTSFIL_MINGW_THREADS posix CACHE STRING "Thread model of the mingw-w64 compilers: win32 or posix")
set_property(CACHE OLMTSFIL_MINGW_THREADS PROPERTY STRINGS win32 posix)

set(CMAKE_C_COMPILER ${OLMTSFIL_MINGW_TRIPLET}-gcc-${OLMTSFIL_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${OLMTSFIL_MINGW_TRIPLET}-g++-${OLMTSFIL_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${OLMTSFIL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OLMTSFIL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and DLLs carry their compiler runtime (libgcc, libstdc++, winpthread):
# they import system DLLs only and run from any folder.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# Test programs run under wine on the build machine (tests set WINEPREFIX and
# WINEDEBUG in the environment; see scripts/build-windows.sh).
find_program(OLMTSFIL_WINE NAMES wine64 wine NO_CMAKE_FIND_ROOT_PATH)
if(OLMTSFIL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OLMTSFIL_WINE})
endif()

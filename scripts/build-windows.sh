#!/usr/bin/env bash
# Cross-builds the Windows DLLs with Debian's mingw-w64 compilers, out of tree
# (presets windows-32 and windows-64 of CMakePresets.json):
#   build-win32/  bin/olmtsfil.dll, the 32-bit DLL (__stdcall, undecorated exports), and
#                 its import library src/libolmtsfil.dll.a; no tests (nothing here runs
#                 32-bit code). The preset sets only the toolchain, the build type and
#                 the thread model, as the README's by-hand command does, so this build
#                 also shows that the programs' dependencies are not needed for it.
#   build-win64/  bin/olmtsfil.dll, the 64-bit DLL, with the test suite in bin/, run by
#                 ctest under wine (see scripts/check-windows.sh)
# Installs the compilers and wine when missing. Both builds are attempted; the
# script fails when either fails.
# Environment: OLMTSFIL_BUILD_TYPE (default Release), OLMTSFIL_JOBS (default 2).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_type=${OLMTSFIL_BUILD_TYPE:-Release}
jobs=${OLMTSFIL_JOBS:-2}

scripts/install-deps.sh windows || exit 1

build() {  # build DIR PRESET THREAD_MODEL (the preset's)
  local dir=$1 preset=$2 threads=$3
  echo "== windows: $dir"
  # CMake keeps the compiler of its first run: another thread model needs a fresh cache.
  if [ -f "$root/$dir/CMakeCache.txt" ] &&
    ! grep -qs -- "-g++-$threads\"" "$root/$dir"/CMakeFiles/*/CMakeCXXCompiler.cmake; then
    rm -rf "$root/$dir/CMakeCache.txt" "$root/$dir/CMakeFiles"
  fi
  cmake --preset "$preset" -B "$root/$dir" -DCMAKE_BUILD_TYPE="$build_type" >/dev/null &&
    cmake --build "$root/$dir" -j "$jobs"
}

failed=()
# The shipped DLL needs no thread support from its runtime; GoogleTest does.
build build-win32 windows-32 win32 || failed+=(build-win32)
build build-win64 windows-64 posix || failed+=(build-win64)
if [ ${#failed[@]} -ne 0 ]; then
  echo "windows: build failed in ${failed[*]}" >&2
  exit 1
fi
echo "windows: built build-win32/bin/olmtsfil.dll (import library build-win32/src/libolmtsfil.dll.a) and build-win64/bin/olmtsfil.dll"

#!/usr/bin/env bash
# Cross-builds the Windows DLLs with Debian's mingw-w64 compilers, out of tree:
#   build-win32/  bin/olmtsfil.dll, the 32-bit DLL (__stdcall, undecorated exports), and
#                 its import library src/libolmtsfil.dll.a; no tests (nothing here runs
#                 32-bit code)
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

build() {  # build DIR TOOLCHAIN THREAD_MODEL TESTS
  local dir=$1 toolchain=$2 threads=$3 tests=$4
  echo "== windows: $dir"
  # CMake keeps the compiler of its first run: another thread model needs a fresh cache.
  if [ -f "$root/$dir/CMakeCache.txt" ] &&
    ! grep -qs -- "-g++-$threads\"" "$root/$dir"/CMakeFiles/*/CMakeCXXCompiler.cmake; then
    rm -rf "$root/$dir/CMakeCache.txt" "$root/$dir/CMakeFiles"
  fi
  cmake -S "$root" -B "$root/$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$toolchain" -DOLMTSFIL_MINGW_THREADS="$threads" \
    -DCMAKE_BUILD_TYPE="$build_type" \
    -DOLMTSFIL_BUILD_TESTS="$tests" -DOLMTSFIL_BUILD_TOOLS=OFF -DOLMTSFIL_BUILD_BENCH=OFF >/dev/null &&
    cmake --build "$root/$dir" -j "$jobs"
}

failed=()
# The shipped DLL needs no thread support from its runtime; GoogleTest does.
build build-win32 mingw-w64-i686.cmake win32 OFF || failed+=(build-win32)
build build-win64 mingw-w64-x86_64.cmake posix ON || failed+=(build-win64)
if [ ${#failed[@]} -ne 0 ]; then
  echo "windows: build failed in ${failed[*]}" >&2
  exit 1
fi
echo "windows: built build-win32/bin/olmtsfil.dll (import library build-win32/src/libolmtsfil.dll.a) and build-win64/bin/olmtsfil.dll"

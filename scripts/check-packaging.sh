#!/usr/bin/env bash
# The library as a package, run by scripts/test.sh:
#  1. installs it into a scratch prefix and builds a tiny consumer with
#     find_package and with pkg-config, then runs both;
#  2. the same consumers against the build tree itself (-Dolmtsfil_DIR=<build>,
#     PKG_CONFIG_PATH=<build>);
#  3. the shared object exports exactly the names of src/c_api/olmtsfil.def (the
#     one list of exports: the HT family and the olmts_ extensions);
#  4. a plain configure with none of the programs' dependencies (CLI11,
#     nlohmann_json, GoogleTest, Google Benchmark hidden) configures and builds the
#     library alone, saying in one line per program what it leaves out, while an
#     explicit -DOLMTSFIL_BUILD_TOOLS=ON without CLI11 stops the configure.
# Uses the build folder of scripts/test.sh (OLMTSFIL_BUILD_DIR, default build/),
# configured with the release preset when it is not there yet.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${OLMTSFIL_BUILD_DIR:-$root/build}
jobs=${OLMTSFIL_JOBS:-2}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/olmtsfil-packaging.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

scripts/install-deps.sh build tools
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset release -B "$build" >/dev/null
fi
cmake --build "$build" -j "$jobs" --target olmtsfil

failures=0
fail() {
  echo "packaging check FAILED: $*" >&2
  failures=$((failures + 1))
}

consumers() {  # consumers NAME CMAKE_ARGS PKG_CONFIG_DIR LIBRARY_DIR
  local name=$1 cmake_args=$2 pc_dir=$3 lib_dir=$4 out=$scratch/$1
  echo "== packaging: $name"
  mkdir -p "$out"
  # shellcheck disable=SC2086
  if cmake -S tests/packaging -B "$out/cmake" $cmake_args >"$out/cmake.log" 2>&1 &&
    cmake --build "$out/cmake" >>"$out/cmake.log" 2>&1; then
    LD_LIBRARY_PATH="$lib_dir:${LD_LIBRARY_PATH:-}" "$out/cmake/consumer" || fail "$name: the find_package consumer"
  else
    tail -20 "$out/cmake.log"
    fail "$name: find_package consumer does not build"
  fi
  local cflags libs
  if cflags=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags olmtsfil) &&
    libs=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --libs olmtsfil); then
    # shellcheck disable=SC2086
    if cc $cflags tests/packaging/consumer.c $libs -o "$out/consumer-pc"; then
      LD_LIBRARY_PATH="$lib_dir:${LD_LIBRARY_PATH:-}" "$out/consumer-pc" || fail "$name: the pkg-config consumer"
    else
      fail "$name: the pkg-config consumer does not build with: $cflags $libs"
    fi
  else
    fail "$name: pkg-config finds no olmtsfil in $pc_dir"
  fi
}

# ---- 1. the install tree ----------------------------------------------------------
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
pc_dir=$(find "$prefix" -name olmtsfil.pc -printf '%h\n' | head -n 1)
if [ -z "$pc_dir" ]; then
  fail "no olmtsfil.pc installed"
else
  consumers installed "-DCMAKE_PREFIX_PATH=$prefix" "$pc_dir" "$(dirname "$pc_dir")"
fi

# ---- 2. the build tree ------------------------------------------------------------
built=$(find "$build/src" -maxdepth 1 -name 'libolmtsfil.so.*' -type f | head -n 1)
consumers "build tree" "-Dolmtsfil_DIR=$build" "$build" "$(dirname "${built:-$build/src/none}")"

# ---- 3. the export list -----------------------------------------------------------
echo "== packaging: exported names"
lib=$(find "$prefix" -name 'libolmtsfil.so.*' -type f | head -n 1)
declared=$(sed -n '/^EXPORTS/,$p' src/c_api/olmtsfil.def | sed '1d; s/;.*//' | awk 'NF {print $1}' | LC_ALL=C sort -u)
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TDBRW]/ {print $3}' | LC_ALL=C sort -u)
extra=$(LC_ALL=C comm -13 <(echo "$declared") <(echo "$exported") | tr '\n' ' ')
absent=$(LC_ALL=C comm -23 <(echo "$declared") <(echo "$exported") | tr '\n' ' ')
[ -z "$extra" ] || fail "exported but not in src/c_api/olmtsfil.def: $extra"
[ -z "$absent" ] || fail "in src/c_api/olmtsfil.def but not exported: $absent"
echo "$(echo "$exported" | wc -l) names exported"

# ---- 4. a plain build with only a compiler and CMake --------------------------------
echo "== packaging: plain configure without the programs' dependencies"
hide=(-DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
  -DOLMTSFIL_GTEST_SOURCE_DIR="$scratch/no-googletest")
plain=$scratch/plain
if cmake -S "$root" -B "$plain" -DCMAKE_BUILD_TYPE=Debug "${hide[@]}" >"$plain.log" 2>&1; then
  for part in "olmts command-line tool" "test suite" "benchmarks"; do
    grep -q "olmtsfil: without the $part: .* not found" "$plain.log" || fail "plain configure: no line saying the $part is left out"
  done
  if cmake --build "$plain" -j "$jobs" >"$plain-build.log" 2>&1; then
    [ -n "$(find "$plain/src" -maxdepth 1 -name 'libolmtsfil.so*')" ] || fail "plain build made no library"
    [ ! -e "$plain/tools/olmts" ] || fail "plain build made the tool without its dependencies"
  else
    tail -20 "$plain-build.log"
    fail "plain build of the library"
  fi
else
  cat "$plain.log"
  fail "plain configure without the programs' dependencies"
fi
if cmake -S "$root" -B "$scratch/required" -DOLMTSFIL_BUILD_TOOLS=ON "${hide[@]}" >"$scratch/required.log" 2>&1; then
  fail "-DOLMTSFIL_BUILD_TOOLS=ON configured without CLI11"
else
  # CMake wraps the message: the lines are joined before looking for it.
  tr '\n' ' ' <"$scratch/required.log" | tr -s ' ' | grep -q "OLMTSFIL_BUILD_TOOLS=ON but .* CLI11" ||
    { cat "$scratch/required.log"; fail "-DOLMTSFIL_BUILD_TOOLS=ON without CLI11: no message naming CLI11"; }
fi

if [ "$failures" -ne 0 ]; then
  echo "packaging check: $failures failure(s)" >&2
  exit 1
fi
echo "packaging: install and build trees (find_package, pkg-config), export list, plain build OK"

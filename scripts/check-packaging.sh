#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds a tiny consumer with
# find_package and with pkg-config, then runs both.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${OLMTSFIL_BUILD_DIR:-$root/build}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S tests/packaging -B "$prefix/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer-build" >/dev/null
LD_LIBRARY_PATH="$prefix/lib:${LD_LIBRARY_PATH:-}" "$prefix/consumer-build/consumer"

libdir=$(find "$prefix" -name olmtsfil.pc -printf '%h\n' | head -n 1)
cc $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags olmtsfil) tests/packaging/consumer.c \
   $(PKG_CONFIG_PATH="$libdir" pkg-config --libs olmtsfil) -o "$prefix/consumer-pc"
LD_LIBRARY_PATH="$(dirname "$libdir"):${LD_LIBRARY_PATH:-}" "$prefix/consumer-pc"

# Only the C exports leave the shared object: the HT family and the listed extensions.
extensions='^(olmts_read_scans_dbl|olmts_read_scans_i32)$'
lib=$(find "$prefix" -name 'libolmtsfil.so.*' -type f | head -n 1)
extra=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TDBRW]/ {print $3}' | grep -v -E 'HT$' | grep -v -E "$extensions" || true)
for name in olmts_read_scans_dbl olmts_read_scans_i32; do
  nm -D --defined-only "$lib" | awk '{print $3}' | grep -qx "$name" || { echo "extension $name not exported"; exit 1; }
done
if [ -n "$extra" ]; then
  echo "unexpected exported symbols:"; echo "$extra"; exit 1
fi
echo "packaging: find_package, pkg-config and export list OK"

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

# Only the C exports leave the shared object: the HT family and the extensions
# listed here (each declared in the header's extension section).
extensions="olmts_gap_scans olmts_record_rate_hz
  olmts_chain_open olmts_chain_close olmts_chain_channels olmts_chain_channel olmts_chain_stage_count
  olmts_chain_stage_info olmts_chain_stage_response olmts_chain_delay olmts_chain_sample_rate
  olmts_converter_open olmts_converter_close olmts_converter_push olmts_converter_finish
  olmts_converter_pull olmts_converter_band"
lib=$(find "$prefix" -name 'libolmtsfil.so.*' -type f | head -n 1)
symbols=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TDBRW]/ {print $3}')
extra=$(echo "$symbols" | grep -v -E 'HT$' | grep -v -x -F -f <(tr ' ' '\n' <<<"$extensions") || true)
if [ -n "$extra" ]; then
  echo "unexpected exported symbols:"; echo "$extra"; exit 1
fi
for name in $extensions; do
  echo "$symbols" | grep -q -x -F "$name" || { echo "extension $name is not exported"; exit 1; }
done
echo "packaging: find_package, pkg-config and export list OK"

#!/usr/bin/env bash
# Checks of the Windows DLLs, run by scripts/test.sh:
#  1. builds both (scripts/build-windows.sh);
#  2. the 32-bit DLL, statically (this machine runs no 32-bit code): its export
#     table holds exactly the functions declared in include/olmtsfil.h, under their
#     undecorated names; each is a __stdcall definition removing the fixed number
#     of argument bytes below (object symbols _Name@N, the import library, and the
#     prototypes at compile time); a C caller built with the header links against
#     the import library and imports the undecorated names; both DLLs import
#     system DLLs only;
#  3. the 64-bit DLL: the test suite under wine, headless, in a wine prefix of its
#     own below build-win64/.
# (The clang build on Linux is a check of its own: scripts/check-clang.sh.)
# Environment: OLMTSFIL_WINDOWS_ALLOW_MISSING=1 reports exports the header declares
# but the library does not define yet as warnings instead of failures (while the
# interface is being filled in).
set -uo pipefail
export LC_ALL=C  # one collation for sort and comm
cd "$(dirname "$0")/.."
root=$(pwd)
win32=$root/build-win32
win64=$root/build-win64
work=$win32/export-check
failures=0
exported=""
fail() {
  echo "windows check FAILED: $*" >&2
  failures=$((failures + 1))
}
missing_export() {
  if [ "${OLMTSFIL_WINDOWS_ALLOW_MISSING:-0}" = 1 ]; then
    echo "windows check warning: $*" >&2
  else
    fail "$*"
  fi
}
words() { tr ' ' '\n' | sed '/^$/d' | sort -u; }
# Lines of $1 not in $2 (both sorted word lists), space-separated.
minus() { comm -23 <(echo "$1") <(echo "$2") | tr '\n' ' ' | sed 's/ $//'; }

# Argument bytes each export removes from the stack on 32-bit Windows: fixed by
# the programs that already call the shipped DLL, so written out here rather than
# derived from the header they check.
declare -A arg_bytes=(
  [TSOpenHT]=4 [TSCloseHT]=4 [SetConcatHT]=8 [ReadPrmHT]=16 [ReadPrmInfoHT]=24 [GCodePrmHT]=12
  [GetNumChnHT]=8 [GetSampleRateHzHT]=12 [SeekHT]=20 [GapHT]=8 [SkipRecHT]=8 [ReadRecHT]=16
  [ReadScanHT]=16 [ReadScanDblHT]=16 [ReadTagHT]=24 [GetDftFreqHT]=8 [ReadDftScanHT]=24
  [CalOpenHT]=8 [CalCloseHT]=4 [ReadCalPrmHT]=16 [CalcBoxNomGainHT]=8 [CalcSensorNomGainHT]=8
  [CalcSensorRespHT]=24 [CalcBoxRespHT]=28 [GetAcqDelayHT]=12
  # Extensions (olmts_*): fixed by their prototypes when they were added.
  [olmts_gap_scans]=20 [olmts_record_rate_hz]=16 [olmts_stream_file]=20
  [olmts_chain_open]=36 [olmts_chain_close]=4 [olmts_chain_channels]=8 [olmts_chain_channel]=16
  [olmts_chain_stage_count]=12 [olmts_chain_stage_info]=16 [olmts_chain_stage_response]=28
  [olmts_chain_delay]=12 [olmts_chain_sample_rate]=8 [olmts_converter_open]=16 [olmts_converter_close]=4
  [olmts_converter_push]=12 [olmts_converter_finish]=4 [olmts_converter_pull]=16 [olmts_converter_band]=16
  [olmts_converter_start]=28 [olmts_next_set_file]=16
  [olmts_read_scans_dbl]=28 [olmts_read_scans_i32]=28 [olmts_walk_stream]=12
  [olmts_survey_stream]=16
)

scripts/build-windows.sh || fail "a Windows build failed (messages above)"

# ---- 2. the 32-bit DLL ------------------------------------------------------------
echo "== windows: exports of the 32-bit DLL"
mkdir -p "$work"
header=$(grep -oE 'OLMTS_CALL[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]*\(' include/olmtsfil.h |
  sed -E 's/^OLMTS_CALL[[:space:]]+//; s/[[:space:]]*\($//' | sort -u)
fixed=$(printf '%s\n' "${!arg_bytes[@]}" | sort -u)
echo "header declares $(echo "$header" | wc -l) exports"
[ -n "$(minus "$header" "$fixed")" ] && fail "declared in the header, no argument bytes fixed for: $(minus "$header" "$fixed")"
[ -n "$(minus "$fixed" "$header")" ] && fail "not declared in the header: $(minus "$fixed" "$header")"

def=$(sed -n '/^EXPORTS/,$p' src/c_api/olmtsfil.def | sed '1d; s/;.*//' | awk 'NF {print $1}' | sort -u)
[ -n "$(minus "$header" "$def")" ] && missing_export "not listed in src/c_api/olmtsfil.def: $(minus "$header" "$def")"
[ -n "$(minus "$def" "$header")" ] && fail "listed in src/c_api/olmtsfil.def but not declared in the header: $(minus "$def" "$header")"

# What the compiled C layer defines: _Name@N for a __stdcall function.
objects=$(find "$win32/src/CMakeFiles/olmtsfil.dir" -name '*.obj' 2>/dev/null)
if [ -z "$objects" ]; then
  fail "no compiled objects of the 32-bit DLL"
else
  # shellcheck disable=SC2086
  defined=$(i686-w64-mingw32-nm --defined-only $objects | awk '$2 == "T" {print $3}' | grep -E '^_[A-Za-z0-9_]+@[0-9]+$' | sed 's/^_//')
  defined_names=$(echo "$defined" | sed 's/@.*//' | sort -u)
  [ -n "$(minus "$header" "$defined_names")" ] &&
    missing_export "declared in the header but not defined as __stdcall functions: $(minus "$header" "$defined_names")"
  for entry in $defined; do
    name=${entry%@*} bytes=${entry#*@}
    [ -n "${arg_bytes[$name]:-}" ] && [ "$bytes" != "${arg_bytes[$name]}" ] &&
      fail "$name removes $bytes argument bytes, callers pass ${arg_bytes[$name]}"
  done
fi

dll32=$win32/bin/olmtsfil.dll
implib32=$win32/src/libolmtsfil.dll.a
export_names() {  # the name table of a DLL's exports
  x86_64-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}' | sort -u
}
imported_dlls() {
  x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {print $3}'
}
check_system_imports() {  # the compiler runtime must be linked in, not needed beside the DLL
  local others
  others=$(imported_dlls "$1" | grep -viE '^(kernel32|msvcrt|ucrtbase|advapi32|api-ms-win-[a-z0-9-]+)\.dll$' | tr '\n' ' ')
  [ -n "$others" ] && fail "$1 needs DLLs that Windows does not ship: $others"
}
if [ -f "$dll32" ]; then
  exported=$(export_names "$dll32")
  decorated=$(echo "$exported" | grep '@' | tr '\n' ' ')
  [ -n "$decorated" ] && fail "decorated export names in the 32-bit DLL: $decorated"
  [ -n "$(minus "$header" "$exported")" ] && missing_export "not exported by the 32-bit DLL: $(minus "$header" "$exported")"
  [ -n "$(minus "$exported" "$header")" ] && fail "exported by the 32-bit DLL but not declared in the header: $(minus "$exported" "$header")"
  echo "32-bit DLL exports $(echo "$exported" | sed '/^$/d' | wc -l) names"
  check_system_imports "$dll32"

  # The import library: decorated symbols for callers compiled with the header.
  imported=$(i686-w64-mingw32-nm "$implib32" | awk '$2 == "I" {print $3}' | grep '^__imp__' | sed 's/^__imp__//')
  for entry in $imported; do
    name=${entry%@*} bytes=${entry#*@}
    if [ "$entry" = "$name" ]; then
      fail "the import library names $name without its argument bytes"
    elif [ -n "${arg_bytes[$name]:-}" ] && [ "$bytes" != "${arg_bytes[$name]}" ]; then
      fail "the import library gives $name@$bytes, callers pass ${arg_bytes[$name]}"
    fi
  done

  # A caller in C: links by the decorated names, imports the undecorated ones.
  present=$(comm -12 <(echo "$header") <(echo "$exported"))
  {
    echo '#include "olmtsfil.h"'
    echo 'typedef void (*AnyFunction)(void);'
    echo 'int main(void) {'
    echo '  static volatile AnyFunction used[] = {'
    for name in $present; do echo "    (AnyFunction)$name,"; done
    echo '    0};'
    echo '  return used[0] == 0;'
    echo '}'
  } >"$work/caller.c"
  if i686-w64-mingw32-gcc-posix -std=c99 -Wall -Wno-cast-function-type -I include "$work/caller.c" "$implib32" \
    -o "$work/caller.exe" 2>"$work/caller.log"; then
    caller_imports=$(x86_64-w64-mingw32-objdump -p "$work/caller.exe" |
      sed -n '/DLL Name: olmtsfil.dll/,/^$/p' | awk 'NR > 2 && NF >= 3 {print $NF}' | sort -u)
    [ "$caller_imports" = "$present" ] ||
      fail "a C caller imports [$(echo "$caller_imports" | tr '\n' ' ')] from olmtsfil.dll, expected [$(echo "$present" | tr '\n' ' ')]"
  else
    fail "a C caller does not link against $implib32: $(grep -o "undefined reference to [^ ]*" "$work/caller.log" | sort -u | tr '\n' ' ')"
  fi
else
  fail "no 32-bit DLL at $dll32"
fi

# The prototypes at compile time: __stdcall, with the fixed argument bytes.
{
  echo '#include <cstddef>'
  echo '#include "olmtsfil.h"'
  echo 'template <typename R, typename... A>'
  echo 'constexpr std::size_t ArgBytes(R (__stdcall*)(A...)) { return (std::size_t{0} + ... + ((sizeof(A) + 3) / 4 * 4)); }'
  for name in $(comm -12 <(echo "$header") <(echo "$fixed")); do
    echo "static_assert(ArgBytes(&$name) == ${arg_bytes[$name]}, \"$name: ${arg_bytes[$name]} argument bytes\");"
  done
} >"$work/prototypes.cc"
i686-w64-mingw32-g++-posix -std=c++17 -fsyntax-only -I include "$work/prototypes.cc" 2>"$work/prototypes.log" ||
  fail "prototypes in include/olmtsfil.h: $(grep -oE '(static assertion failed: .*|invalid conversion .*)' "$work/prototypes.log" | tr '\n' ';')"

# ---- 3. the 64-bit DLL under wine ---------------------------------------------------
echo "== windows: 64-bit tests under wine"
dll64=$win64/bin/olmtsfil.dll
if [ -f "$dll64" ] && [ -f "$win64/bin/olmtsfil_tests.exe" ]; then
  exported64=$(export_names "$dll64")
  [ "$exported64" = "$exported" ] || fail "the 64-bit DLL exports [$(echo "$exported64" | tr '\n' ' ')], the 32-bit one [$(echo "${exported:-}" | tr '\n' ' ')]"
  check_system_imports "$dll64"

  export WINEPREFIX=$win64/wineprefix WINEDEBUG=-all WINEARCH=win64
  # No display, no prompts for the .NET and HTML runtimes the tests do not use.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the wine prefix $WINEPREFIX (the first time takes a while)"
    timeout 900 wineboot --init >/dev/null 2>&1 || true
    timeout 300 wineserver --wait || true
    [ -f "$WINEPREFIX/system.reg" ] || fail "wine could not create its prefix in $WINEPREFIX"
  fi
  ctest --test-dir "$win64" --output-on-failure || fail "tests of the 64-bit DLL under wine"
  wineserver --kill >/dev/null 2>&1 || true
else
  fail "no 64-bit DLL and tests in $win64/bin"
fi

if [ "$failures" -ne 0 ]; then
  echo "windows check: $failures failure(s)" >&2
  exit 1
fi
echo "windows check passed"

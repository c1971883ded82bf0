#!/usr/bin/env bash
# Fails when an include runs against the layer order of the core,
#   common < table < {ts, cal} < filters < response < c_api,
# or when code outside the core reaches into it where it should not:
#   - a core layer includes only the public header, its own folder and the
#     layers below it (ts and cal are siblings: neither includes the other);
#   - any other folder of src/ is an extension above the exports (units/ ...):
#     it may use every layer but c_api/, and only c_api/ (its C wrappers) and
#     other extensions include it;
#   - the test-data writer (testing/) computes its expectations independently,
#     so it includes the public header, its own files and, of the core, only
#     the byte layouts (common/byte_layouts.h), which must stay plain data that
#     includes no header of the project at all;
#   - the benchmarks and the fuzz targets are callers of the C interface: they
#     include no core header either;
#   - tests and the tool (which shares the library's dated-set rule) may include
#     any layer; nothing in the core includes test, tool, writer, fuzz or
#     benchmark headers.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    common) echo 0 ;;
    table) echo 1 ;;
    ts | cal) echo 2 ;;
    filters) echo 3 ;;
    response) echo 4 ;;
    c_api) echo 5 ;;
    *) echo -1 ;;
  esac
}

core_layers="common table ts cal filters response c_api"
is_core_layer() {
  local layer
  for layer in $core_layers; do [ "$1" = "$layer" ] && return 0; done
  return 1
}

failures=0
fail() {
  echo "check-includes: $1"
  failures=$((failures + 1))
}

# Prints "file:line:target" for every quoted include under the given roots.
quoted_includes() {
  find "$@" -type f \( -name '*.h' -o -name '*.cc' -o -name '*.c' \) -print0 2>/dev/null |
    xargs -0 -r grep -Hn -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' |
    sed -E 's/^([^:]+):([0-9]+):[^"]*"([^"]+)".*/\1:\2:\3/'
}

# The core and its extensions.
while IFS=: read -r file line target; do
  [ "$target" = "olmtsfil.h" ] && continue
  own=$(echo "$file" | cut -d/ -f2)
  to=${target%%/*}
  if [ "$to" = "$target" ] || [ ! -d "src/$to" ]; then
    fail "$file:$line includes \"$target\", which is not part of src/"
    continue
  fi
  [ "$to" = "$own" ] && continue
  if ! is_core_layer "$own"; then
    [ "$to" = "c_api" ] && fail "$file:$line: extension $own/ includes c_api/ (\"$target\"); it sits above the exports"
    continue
  fi
  if ! is_core_layer "$to"; then
    [ "$own" = "c_api" ] || fail "$file:$line: $own/ includes the extension $to/ (\"$target\"), which sits above it"
    continue
  fi
  if [ "$(rank "$to")" -ge "$(rank "$own")" ]; then
    fail "$file:$line: $own/ includes $to/ (\"$target\"), which is not below it"
  fi
done < <(quoted_includes src)

# The byte layouts: shared with the writer, so they include nothing of the project.
shared_layouts="common/byte_layouts.h"
while IFS=: read -r file line target; do
  fail "$file:$line includes \"$target\"; the byte layouts are shared with the test-data writer and include no project header"
done < <(quoted_includes "src/$shared_layouts")

# Callers of the C interface; the writer may use the byte layouts as well.
while IFS=: read -r file line target; do
  [ "$target" = "olmtsfil.h" ] && continue
  case "$file" in testing/*) [ "$target" = "$shared_layouts" ] && continue ;; esac
  to=${target%%/*}
  if [ "$to" != "$target" ] && [ -d "src/$to" ]; then
    fail "$file:$line includes core header \"$target\"; only the public header is theirs to use"
  fi
done < <(quoted_includes testing bench fuzz python/bench)

# Tests and the tool: any layer, but only headers that exist.
while IFS=: read -r file line target; do
  to=${target%%/*}
  if [ "$to" != "$target" ] && [ -d "src/$to" ] && [ ! -f "src/$target" ]; then
    fail "$file:$line includes \"$target\", which is not in src/"
  fi
done < <(quoted_includes tests tools)

if [ "$failures" -ne 0 ]; then
  echo "check-includes: $failures include(s) against the layer order"
  exit 1
fi
echo "includes: every include runs downward (common < table < {ts, cal} < filters < response < c_api)"

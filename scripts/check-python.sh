#!/usr/bin/env bash
# The Python package's checks: builds (or reuses) the library and the olmts tool,
# writes the sample recording with it, runs the pytest suite with Debian's
# python3, and installs the package both ways (pip, CMake component) to import it.
# Reuses the build folder of scripts/test.sh (OLMTSFIL_BUILD_DIR, default build/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${OLMTSFIL_BUILD_DIR:-$root/build}
# Debian's interpreter, whatever python3 comes first on PATH: its numpy,
# matplotlib and pytest are the ones install-deps.sh provides.
python=/usr/bin/python3

scripts/install-deps.sh build tools python export pydata

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset release -B "$build" >/dev/null
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target olmtsfil olmts olmtsfil_python_test_recording

library=$(find "$build/src" -maxdepth 1 -name 'libolmtsfil.so.*.*' | head -n 1)
[ -n "$library" ] || { echo "no shared library in $build/src" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/olmtsfil-python.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$build/tools/olmts" sample "$work/sample" >/dev/null
base=$("$python" -c 'import json, sys; print(json.load(open(sys.argv[1]))["base"])' "$work/sample/sample.json")

echo "-- pytest"
# Exit 5 (no tests collected) means the suite went missing: a failure too.
OLMTSFIL_LIBRARY="$library" OLMTSFIL_SAMPLE_DIR="$work/sample" OLMTSFIL_BUILD_DIR="$build" \
  PYTHONDONTWRITEBYTECODE=1 "$python" -m pytest -q -p no:cacheprovider "$root/python/tests"

smoke='import olmtsfil, sys; rec = olmtsfil.Recording(sys.argv[1]); assert rec.channel_count > 0; print("  imported from", olmtsfil.__file__, "using", olmtsfil.library_path())'

echo "-- pip install --no-build-isolation ./python"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install -q --no-build-isolation --no-deps --no-index "$root/python"
rm -rf "$root/python/build" "$root/python/olmtsfil.egg-info"
(cd "$work" && OLMTSFIL_LIBRARY="$library" "$work/venv/bin/python" -c "$smoke" "$base")

echo "-- cmake --install --component python"
cmake --install "$build" --component python --prefix "$work/prefix" >/dev/null
site=$(dirname "$(find "$work/prefix" -name __init__.py -path '*olmtsfil*' | head -n 1)")
(cd "$work" && env -u OLMTSFIL_LIBRARY PYTHONPATH="$(dirname "$site")" "$python" -c "$smoke" "$base")

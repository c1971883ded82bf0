#!/usr/bin/env bash
# Installs the Debian packages a group of jobs needs, only those still missing.
# Usage: scripts/install-deps.sh GROUP...
# The one place that installs Debian packages: every script installs the groups
# it needs, so that it runs on a fresh machine.
set -euo pipefail

packages_for() {
  case "$1" in
    build) echo "cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libkissfft-dev" ;;
    tools) echo "libcli11-dev nlohmann-json3-dev libmseed-dev libxml2-dev libxml2-utils" ;;
    python) echo "python3 python3-numpy python3-matplotlib python3-pytest python3-pip python3-venv python3-setuptools python3-pandas python3-dask python3-distributed" ;;
    windows) echo "cmake make libkissfft-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 googletest wine wine64" ;;
    fuzz) echo "clang-14 libclang-rt-14-dev llvm-14" ;;
    clang) echo "clang-14" ;;
    format) echo "clang-format-14" ;;
    valgrind) echo "valgrind" ;;
    export) echo "pkg-config libmseed-dev libxml2-dev libxml2-utils" ;;
    units) echo "libkissfft-dev" ;;
    bench) echo "time" ;;
    pydata) echo "python3-pandas python3-xarray python3-netcdf4 python3-h5netcdf python3-dask python3-distributed python3-lxml" ;;
    *) echo "unknown package group: $1" >&2; exit 2 ;;
  esac
}

missing=()
for group in "$@"; do
  for pkg in $(packages_for "$group"); do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

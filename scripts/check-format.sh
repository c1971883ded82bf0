#!/usr/bin/env bash
# Every C and C++ file of the tree against the repository's .clang-format, with
# Debian's clang-format 14 (one version, so that results do not move with the
# machine); fails on the first difference of any file and lists the files.
#   scripts/check-format.sh [FILE...]         check the files named, or every file
#   scripts/check-format.sh --fix [FILE...]   reformat them in place instead
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh format
clang_format=clang-format-14

fix=0
if [ "${1:-}" = "--fix" ]; then
  fix=1
  shift
fi
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  # Tracked files and new ones not ignored; a checkout without git is searched.
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
      '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp' | LC_ALL=C sort -u)
  else
    mapfile -t files < <(find . -path './build*' -prune -o -type f \
      \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.cxx' -o -name '*.h' -o -name '*.hh' -o -name '*.hpp' \) \
      -print | sed 's|^\./||' | LC_ALL=C sort)
  fi
fi

checked=0
differ=()
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  checked=$((checked + 1))
  if [ "$fix" = 1 ]; then
    "$clang_format" --style=file -i "$file"
  elif ! "$clang_format" --style=file --dry-run -Werror "$file" >/dev/null 2>&1; then
    differ+=("$file")
  fi
done

if [ "$fix" = 1 ]; then
  echo "format: reformatted $checked file(s)"
  exit 0
fi
if [ ${#differ[@]} -ne 0 ]; then
  echo "format: ${#differ[@]} of $checked file(s) differ from .clang-format ($clang_format):" >&2
  printf '  %s\n' "${differ[@]}" >&2
  echo "first differences in ${differ[0]}:" >&2
  "$clang_format" --style=file --dry-run "${differ[0]}" 2>&1 | head -20 >&2 || true
  echo "scripts/check-format.sh --fix FILE... reformats them" >&2
  exit 1
fi
echo "format: $checked file(s) follow .clang-format"

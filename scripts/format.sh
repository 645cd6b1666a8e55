#!/usr/bin/env bash
# Formats the project's C++ sources by .clang-format (clang-format 14, as Debian 12 ships it).
#   scripts/format.sh            rewrite the files in place
#   scripts/format.sh --check    change nothing; list the files that are not formatted and fail
set -euo pipefail
cd "$(dirname "$0")/.."
fmt=${CLANG_FORMAT:-$(command -v clang-format-14 || command -v clang-format || true)}
if [ -z "$fmt" ]; then
  echo "format: clang-format not found (scripts/setup.sh installs it)" >&2
  exit 1
fi
# Every C++ source of the project (no git needed: CI checks inside a tree without it).
mapfile -t files < <(find src tests bench tools \( -name '*.cpp' -o -name '*.h' \) | sort)
if [ "${1:-}" = "--check" ]; then
  bad=()
  for f in "${files[@]}"; do
    "$fmt" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    printf 'format: not formatted: %s\n' "${bad[@]}" >&2
    echo "format: run scripts/format.sh to fix" >&2
    exit 1
  fi
  echo "format: ${#files[@]} files formatted"
  exit 0
fi
"$fmt" -i "${files[@]}"

#!/usr/bin/env bash
# Checks that every C++ source and header of the tree is formatted as .clang-format says
# (clang-format --dry-run --Werror): the whole tree was clean when this check came in, so any
# file that is not was changed without clang-format -i. Exits 1 naming each such file.
# Usage: scripts/check-format.sh [CLANG_FORMAT]   (default: clang-format, else clang-format-14)
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-${CLANG_FORMAT:-}}
if [ -z "$tool" ]; then
  for candidate in clang-format clang-format-14; do
    command -v "$candidate" >/dev/null && tool=$candidate && break
  done
fi
if [ -z "$tool" ] || ! command -v "$tool" >/dev/null; then
  echo "check-format: clang-format not found (Debian package clang-format)" >&2
  exit 2
fi

# The tracked files in a checkout; every such file under the tree's own folders otherwise.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.cc' '*.hpp')
else
  mapfile -t files < <(find . -path './build*' -prune -o -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.cc' -o -name '*.hpp' \) -print | sed 's|^\./||' | sort)
fi

unformatted=()
for file in "${files[@]}"; do
  "$tool" --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if ((${#unformatted[@]} > 0)); then
  printf 'check-format: not formatted: %s\n' "${unformatted[@]}" >&2
  echo "check-format: ${#unformatted[@]} of ${#files[@]} files differ from .clang-format;" \
    "run: $tool -i FILE" >&2
  exit 1
fi
echo "check-format: all ${#files[@]} C++ files are formatted"

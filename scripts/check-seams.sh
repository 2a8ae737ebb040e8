#!/usr/bin/env bash
# Proves that the library sees the outside components through their interface headers only:
# every source of backup/ (and its sub-folders), stream_cache/, job_cache/, util/ and file_parser/
# is compiled in a directory that holds nothing but the library's own sources and headers and the
# headers of external/*/interface/ (Boost and the system's headers come from the system).
# Usage: scripts/check-seams.sh [CXX]
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=${1:-${CXX:-c++}}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for file in backup/* backup/*/* stream_cache/* job_cache/* util/* file_parser/* external/*/interface/*.h; do
  case "$file" in
    *_test.cpp | *TestFixture.h | *CMakeLists.txt) continue ;;
  esac
  [ -d "$file" ] && continue
  if [ -e "$work/$(basename "$file")" ]; then
    echo "two files named $(basename "$file"): the check needs unique names"
    exit 1
  fi
  cp "$file" "$work/"
done

export cxx
failed=$(cd "$work" && ls ./*.cpp | xargs -P "$(nproc)" -I{} sh -c \
  '"$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror -DOBJSTORE_VERSION="\"0\"" \
     -iquote . {} 2>&1 | sed "s|^|{}: |"' || true)
if [ -n "$failed" ]; then
  echo "$failed"
  echo "the library's sources need more than the interface headers"
  exit 1
fi
echo "seams: $(ls "$work"/*.cpp | wc -l) library sources compile against the interface headers alone"

#!/usr/bin/env bash
# Proves the library's seams, outward and inward. Every source and header of the library is
# compiled in a directory of its folder's own: its folder's files, the headers of the folders
# below it and the headers of external/*/interface/ (Boost and the system's headers come from the
# system), so
#   - the library sees the outside components through their interface headers only, and
#   - an include that climbs a layer, or goes across to a folder beside its own, is not found.
# The folders, from the bottom (README.md, Layout):
#   util < file_parser, stream_cache, job_cache < backup/statistics, backup/restart,
#   backup/sending < backup
# Usage: scripts/check-seams.sh [CXX]
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=${1:-${CXX:-c++}}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# <folder> <folders whose headers it sees>
layers=(
  "util:"
  "file_parser:util"
  "stream_cache:util"
  "job_cache:util"
  "backup/statistics:util file_parser stream_cache job_cache"
  "backup/restart:util file_parser stream_cache job_cache"
  "backup/sending:util file_parser stream_cache job_cache"
  "backup:util file_parser stream_cache job_cache backup/statistics backup/restart backup/sending"
)

# Copies the library files of folder $2 (headers only when $3 is "headers") into $1.
copy_folder() {
  local into=$1 folder=$2 what=$3 file
  for file in "$folder"/*; do
    [ -f "$file" ] || continue
    case "$file" in
      *_test.cpp | *Test*.h | *CMakeLists.txt) continue ;;
      *.h) ;;
      *) [ "$what" = headers ] && continue ;;
    esac
    if [ -e "$into/$(basename "$file")" ]; then
      echo "two files named $(basename "$file"): the check needs unique names"
      exit 1
    fi
    cp "$file" "$into/"
  done
}

sources=0 headers=0
for layer in "${layers[@]}"; do
  folder=${layer%%:*}
  dir=$work/${folder//\//_}
  mkdir "$dir"
  copy_folder "$dir" "$folder" all
  sources=$((sources + $(find "$dir" -name '*.cpp' | wc -l)))
  # Each of the folder's headers on its own too: one that no source of its folder includes is
  # checked all the same.
  for header in "$folder"/*.h; do
    case "$header" in *Test*.h) continue ;; esac
    printf '#include "%s"\n' "$(basename "$header")" >"$dir/header_check_$(basename "$header" .h).cpp"
    headers=$((headers + 1))
  done
  for below in ${layer#*:} external/*/interface; do copy_folder "$dir" "$below" headers; done
done

export cxx
failed=$(cd "$work" && ls ./*/*.cpp | xargs -P "$(nproc)" -I{} sh -c \
  'cd "$(dirname {})" && "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror \
     -DOBJSTORE_VERSION="\"0\"" -iquote . "$(basename {})" 2>&1 | sed "s|^|{}: |"' || true)
if [ -n "$failed" ]; then
  echo "$failed"
  echo "a library source needs more than its folder, the folders below it and the interface headers"
  exit 1
fi
echo "seams: $sources library sources and $headers headers compile with their own folder, the" \
  "folders below it and the interface headers alone"

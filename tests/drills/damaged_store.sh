#!/usr/bin/env bash
# Damaged and hostile stores: every case damages a copy of a good store in one way, then runs
# check, list, verify and restore on it. Each must end with the expected status and name the
# damage, within $BOUND_SECONDS and $BOUND_KIB (common.sh) even where the damage would make a
# careless reader block for ever (a FIFO) or read gigabytes (a link to /dev/zero, a sparse file).
# A flipped byte in one record header must cost only that record's object: restore brings back
# every other one.
# Usage: damaged_store.sh
cd "$(dirname "$0")/../.."
source tests/drills/common.sh

# One case per line: name | damage (a function below, given the run directory) | the text that
# check, verify and restore must show (on either output); list must show the run as damaged.
# All four must exit 1.
CASES="
manifest-link-to-dev-zero | link_manifest      | is a symbolic link; a store holds regular files only
manifest-fifo             | fifo_manifest      | is a FIFO; a store holds regular files only
manifest-sparse-6g        | sparse_manifest    | more than the 1048576 such a file ever holds
data-fifo                 | fifo_data          | is a FIFO; a store holds regular files only
data-link-to-dev-zero     | link_data          | is a symbolic link; a store holds regular files only
data-sparse-6g-tail       | sparse_data_tail   | bytes to the end hold no intact record
committed-sparse-6g       | sparse_committed   | more than the 32 such a file ever holds
committed-fifo            | fifo_committed     | is a FIFO; a store holds regular files only
run-copied-under-new-id   | copy_run           | its manifest is that of run
one-flipped-header        | flip_header        | is damaged (its header fails its checksum
"

data_file() { ls "$1"/stream-*.data | head -1; }
committed_file() { ls "$1"/stream-*.committed | head -1; }
link_manifest() { rm "$1/MANIFEST" && ln -s /dev/zero "$1/MANIFEST"; }
fifo_manifest() { rm "$1/MANIFEST" && mkfifo "$1/MANIFEST"; }
sparse_manifest() { truncate -s 6G "$1/MANIFEST"; }
fifo_data() { local f; f=$(data_file "$1"); rm "$f" && mkfifo "$f"; }
link_data() { local f; f=$(data_file "$1"); rm "$f" && ln -s /dev/zero "$f"; }
sparse_data_tail() { truncate -s 6G "$(data_file "$1")"; }
sparse_committed() { truncate -s 6G "$(committed_file "$1")"; }
fifo_committed() { local f; f=$(committed_file "$1"); rm "$f" && mkfifo "$f"; }
copy_run() { cp -a "$1" "$(dirname "$1")/1.copied-run"; }
# The 41st record header of the data file (the file header is 16 bytes, each record header 24).
flip_header() {
  python3 - "$(data_file "$1")" << 'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
at = 16
for _ in range(40):
    at += 24 + struct.unpack_from("<Q", data, at + 8)[0]
data[at + 9] ^= 0x40
open(path, "wb").write(data)
PY
}

# Runs one case; echoes why it failed, or nothing.
run_case() {
  local name=$1 damage=$2 text=$3 dir=$WORK/cases/$1 command status why
  mkdir -p "$dir"
  cp -a "$WORK/store0" "$dir/store"
  "$damage" "$(ls -d "$dir"/store/1.*)" || { echo "the damage could not be made"; return; }
  for command in check list verify restore; do
    local args=("$command" --store "$dir/store")
    case $command in
      verify) args+=(--source "$WORK/src") ;;
      restore) args+=(--job 1 --to "$dir/restored") ;;
    esac
    status=0
    run_bounded "$name-$command" "${args[@]}" || status=$?
    why=$(bounded "$name-$command") || { echo "$command $why"; return; }
    [ "$status" = 1 ] || { echo "$command ended with $status, not 1"; return; }
    # list shows the damage as a status and leaves the details to check.
    local says=$text
    [ "$command" = list ] && says="runs are damaged (check tells where)"
    grep -qF -- "$says" "$WORK/$name-$command.out" "$WORK/$name-$command.err" \
      || { echo "$command does not say [$says]"; return; }
    [ "$command" != list ] || grep -q " damaged  " "$WORK/$name-list.out" \
      || { echo "list shows no damaged run"; return; }
  done
  if [ "$damage" = flip_header ]; then
    # Exactly one object lost: the restored tree lacks one file of the source.
    local lost
    lost=$(diff -rq "$WORK/src" "$dir/restored" | wc -l)
    [ "$lost" = 1 ] || { echo "restore lost $lost objects, not 1"; return; }
    grep -qF "damaged copies: 1" "$WORK/$name-check.out" || { echo "check does not count 1 damaged copy"; return; }
  fi
}

make_source "$WORK/src" 20 120
run ingest0 ingest "$WORK/src" --cache "$WORK/cache0" --extent-size 64KiB || { echo "ingest failed"; exit 1; }
run backup0 backup --cache "$WORK/cache0" --root "$WORK/root" --store "$WORK/store0" --job 1 --streams 1 \
  || { echo "backup failed"; exit 1; }
run check0 check --store "$WORK/store0" || { echo "the good store does not check"; exit 1; }
echo "damaged stores (work in $WORK):"
while IFS='|' read -r name damage text; do
  name=$(echo $name)
  [ -z "$name" ] && continue
  damage=$(echo $damage)
  text=$(echo "$text" | sed 's/^ *//; s/ *$//')
  why=$(run_case "$name" "$damage" "$text")
  if [ -z "$why" ]; then pass "$name"; else fail "$name" "$why"; fi
  rm -f "$WORK"/*.err "$WORK"/*.out
  [ "$KEEP" = 1 ] || rm -rf "$WORK/cases/$name"
done <<< "$CASES"
summary "damaged-store"

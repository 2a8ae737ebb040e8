#!/usr/bin/env bash
# Full disks, played by the stand-ins' diskFullAfter=<size> fault, so that no small file system
# has to be mounted: the backup store fills up during a backup, the disk cache during an ingest,
# each at several points. Every run that meets the full disk must fail with one line that names
# the cause, leave no damage and no temporary file, and a rerun once there is space again must
# complete the job: verify and restore then give the source back.
# Usage: disk_full.sh
cd "$(dirname "$0")/../.."
source tests/drills/common.sh
CAUSE="No space left on device"

store_case() {
  local size=$1 dir=$WORK/store-$1
  mkdir -p "$dir"  # the root base is created as mkdir does: its parent must exist
  cp -a "$WORK/cache0" "$dir-cache"
  local job=(--cache "$dir-cache" --root "$dir/root" --store "$dir/store" --job-id 31)
  run "store-$size" backup "${job[@]}" --faults "diskFullAfter=$size" && { echo "the backup succeeded on a full disk"; return; }
  one_line "store-$size" "objstore-backup: backup failed: " || { echo "failure is not one line"; return; }
  grep -qF "$CAUSE" "$WORK/store-$size.err" || { echo "failure does not say [$CAUSE]"; return; }
  if [ -n "$(ls -A "$dir/store" 2> /dev/null)" ]; then
    run "store-$size-check" check --store "$dir/store" || { echo "the store shows damage"; return; }
  fi
  run "store-$size-rerun" backup "${job[@]}" || { echo "the rerun with space failed"; return; }
  intact "$dir/store" 31 "$WORK/src" "store-$size"
}

cache_case() {
  local size=$1 dir=$WORK/cache-$1
  run "cache-$size" ingest "$WORK/src" --cache "$dir/cache" --faults "diskFullAfter=$size" \
    && { echo "the ingest succeeded on a full disk"; return; }
  one_line "cache-$size" "objstore-backup: ingest failed: " || { echo "failure is not one line"; return; }
  grep -qF "$CAUSE" "$WORK/cache-$size.err" || { echo "failure does not say [$CAUSE]"; return; }
  [ -z "$(find "$dir/cache" -name '.tmp-*')" ] || { echo "a temporary segment is left"; return; }
  # What reached the cache is whole: it backs up without a failure.
  run "cache-$size-partial" backup --cache "$dir/cache" --root "$dir/root" --store "$dir/store" --job-id 32 \
    || { echo "the backup of the partial cache failed"; return; }
  run "cache-$size-rerun" ingest "$WORK/src" --cache "$dir/cache" || { echo "the rerun with space failed"; return; }
  run "cache-$size-backup" backup --cache "$dir/cache" --root "$dir/root" --store "$dir/store" --job-id 32 \
    || { echo "the backup after the rerun failed"; return; }
  intact "$dir/store" 32 "$WORK/src" "cache-$size"
}

make_source "$WORK/src" 5
run ingest0 ingest "$WORK/src" --cache "$WORK/cache0" --extent-size 256KiB || { echo "ingest failed"; exit 1; }
echo "disk full (work in $WORK):"
for kind in store cache; do
  for size in 0 1 64KiB 1MiB 3MiB; do
    why=$("${kind}_case" "$size")
    if [ -z "$why" ]; then pass "$kind full after $size"; else fail "$kind full after $size" "$why"; fi
    rm -f "$WORK"/*.err "$WORK"/*.out
  done
done
summary "disk-full"

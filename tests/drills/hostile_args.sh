#!/usr/bin/env bash
# Careless and hostile arguments: each case runs one command line that would send data elsewhere
# (an empty path, no store, overlapping directories, a root whose parent is missing, a bad fault
# plan in the environment) and checks its exit status and the one line that says why, within
# $BOUND_SECONDS and $BOUND_KIB (common.sh). Commands that must succeed are checked too.
# Usage: hostile_args.sh
cd "$(dirname "$0")/../.."
source tests/drills/common.sh

# One case per line: name | environment (NAME=VALUE, or -) | arguments, split by the shell after
# $W, $SRC, $CACHE and $STORE are put in; '' is an empty argument | expected status | the start of
# the only line on standard error ("-": standard error must be empty; "*": any lines).
CASES="
empty-store           | - | check --store ''                               | 2 | objstore-backup: error: --store: must not be empty
empty-store-backup    | - | backup --cache \$CACHE --root \$W/r --store '' | 2 | objstore-backup: error: --store: must not be empty
empty-cache-ingest    | - | ingest \$SRC --cache ''                        | 2 | objstore-backup: error: --cache: must not be empty
empty-cache-backup    | - | backup --cache '' --root \$W/r --store \$STORE | 2 | objstore-backup: error: --cache: must not be empty
empty-root            | - | backup --cache \$CACHE --root '' --store \$STORE | 2 | objstore-backup: error: --root: must not be empty
empty-source          | - | verify --store \$STORE --source ''             | 2 | objstore-backup: error: --source: must not be empty
empty-src             | - | ingest '' --cache \$W/c                        | 2 | objstore-backup: error: SRC: must not be empty
empty-to              | - | restore --store \$STORE --job 1 --to ''       | 2 | objstore-backup: error: --to: must not be empty
empty-keep            | - | demo --keep ''                                 | 2 | objstore-backup: error: --keep: must not be empty
empty-log             | - | check --store \$STORE --log ''                 | 2 | objstore-backup: error: --log: must not be empty
empty-faults          | - | backup --cache \$CACHE --root \$W/r --store \$STORE --faults '' | 2 | objstore-backup: error: --faults: must not be empty
empty-ingest-faults   | - | ingest \$SRC --cache \$W/c --faults ''         | 2 | objstore-backup: error: --faults: must not be empty
unset-store           | OBJSTORE_PIPELINE_STORE= | check --store \"\$UNSET\" | 2 | objstore-backup: error: --store: must not be empty
no-store-check        | - | check                                          | 2 | objstore-backup: error: no store given: give --store DIR, or set OBJSTORE_PIPELINE_STORE
no-store-list         | - | list                                           | 2 | objstore-backup: error: no store given
no-store-verify       | - | verify --source \$SRC                          | 2 | objstore-backup: error: no store given
no-store-restore      | - | restore --job 1 --to \$W/t                     | 2 | objstore-backup: error: no store given
no-store-backup       | - | backup --cache \$CACHE --root \$W/r            | 2 | objstore-backup: error: no store given
store-from-env        | OBJSTORE_PIPELINE_STORE=\$STORE | check            | 0 | -
demo-needs-no-store   | - | demo --objects 20 --max-size 4KiB              | 0 | -
root-two-levels       | - | backup --cache \$CACHE --root \$W/none/root --store \$STORE | 2 | objstore-backup: error: the root base (--root): neither
root-is-a-file        | - | backup --cache \$CACHE --root \$W/file --store \$STORE | 2 | objstore-backup: error: the root base (--root): [
root-last-created     | - | backup --cache \$W/empty --root \$W/newroot --store \$STORE | 0 | -
cache-is-store        | - | backup --cache \$CACHE --root \$W/r --store \$CACHE | 2 | objstore-backup: error: the store [
store-in-cache        | - | backup --cache \$CACHE --root \$W/r --store \$CACHE/s | 2 | objstore-backup: error: the store [
root-is-cache         | - | backup --cache \$CACHE --root \$CACHE --store \$STORE | 2 | objstore-backup: error: the root base (--root) [
root-in-store         | - | backup --cache \$CACHE --root \$STORE/r --store \$STORE | 2 | objstore-backup: error: the root base (--root) [
root-is-store         | - | backup --cache \$CACHE --root \$STORE --store \$STORE | 2 | objstore-backup: error: the root base (--root) [
root-folder-is-store  | - | backup --cache \$CACHE --root \$W --store \$W/OBJECTSTORE | 2 | objstore-backup: error: the root folder (--root's OBJECTSTORE) [
restore-to-store      | - | restore --store \$STORE --job 1 --to \$STORE   | 2 | objstore-backup: error: the target (--to) [
restore-into-store    | - | restore --store \$STORE --job 1 --to \$STORE/x/y | 2 | objstore-backup: error: the target (--to) [
restore-store-spelt   | - | restore --store \$STORE --job 1 --to \$STORE/../store/x | 2 | objstore-backup: error: the target (--to) [
cache-in-source       | - | ingest \$SRC --cache \$SRC/cache               | 2 | objstore-backup: error: the cache [
cache-is-source       | - | ingest \$SRC --cache \$SRC                     | 2 | objstore-backup: error: the cache [
pipeline-faults-env   | OBJSTORE_PIPELINE_FAULTS=bogus | backup --cache \$CACHE --root \$W/r --store \$STORE | 2 | objstore-backup: error: invalid OBJSTORE_PIPELINE_FAULTS [bogus]
pipeline-faults-demo  | OBJSTORE_PIPELINE_FAULTS=bogus | demo --objects 5 | 2 | objstore-backup: error: invalid OBJSTORE_PIPELINE_FAULTS [bogus]
diskcache-faults-env  | OBJSTORE_DISKCACHE_FAULTS=bogus | ingest \$SRC --cache \$W/c | 2 | objstore-backup: error: invalid OBJSTORE_DISKCACHE_FAULTS [bogus]
check-store-file      | - | check --store \$W/file                         | 2 | objstore-backup: error: the store [\$W/file] is not a directory
list-store-file       | - | list --store \$W/file                          | 2 | objstore-backup: error: the store [\$W/file] is not a directory
backup-store-file     | - | backup --cache \$CACHE --root \$W/r --store \$W/file | 2 | objstore-backup: error: the store [\$W/file] is not a directory
check-store-missing   | - | check --store \$W/nowhere                      | 1 | objstore-backup: error: the store [\$W/nowhere] does not exist
unknown-option        | - | --bogus                                        | 2 | objstore-backup: error: unknown option [--bogus]
unknown-option-value  | - | --bogus=1 list                                 | 2 | objstore-backup: error: unknown option [--bogus]
unknown-command       | - | bogus                                          | 2 | objstore-backup: error: unknown command [bogus]
list-unknown-job      | - | list --store \$STORE --job 99                  | 1 | objstore-backup: list failed: the store [\$STORE] holds no run of job 99
check-unknown-job     | - | check --store \$STORE --job 99                 | 1 | objstore-backup: check failed: 1 problems (first: the store [\$STORE] holds no run of job 99)
list-known-job        | - | list --store \$STORE --job 1                   | 0 | -
interrupt-twice       | OBJSTORE_BACKUP_INTERRUPT_AFTER=3 OBJSTORE_BACKUP_INTERRUPT_SIGNALS=2 | backup --cache \$W/cache2 --root \$W/r --store \$W/store2 --job 2 --threads 1 --streams 1 | 130 | interrupted: finishing the items in flight; press Ctrl-C again to stop at once
"

# Runs one case; echoes why it failed, or nothing.
run_case() {
  local name=$1 environment=$2 arguments=$3 expected=$4 line=$5 status=0 why
  local W=$WORK SRC=$WORK/src CACHE=$WORK/cache STORE=$WORK/store UNSET=
  local -a args envs=()
  eval "args=($arguments)"
  [ "$environment" = - ] || eval "envs=($environment)"
  line=$(eval "echo \"$line\"")
  ( for setting in "${envs[@]}"; do export "${setting?}"; done
    run_bounded "$name" "${args[@]}" ) || status=$?
  why=$(bounded "$name") || { echo "$why"; return; }
  [ "$status" = "$expected" ] || { echo "ended with $status, not $expected"; return; }
  case $line in
    -) [ -s "$WORK/$name.err" ] && { echo "wrote to standard error"; return; } ;;
    interrupted:*)
      head -1 "$WORK/$name.err" | grep -qF -- "$line" || { echo "no notice [$line]"; return; }
      grep -q "^interrupted: yes" "$WORK/$name.out" || { echo "no summary: it stopped at once"; return; } ;;
    *) one_line "$name" "$line" || { echo "standard error is not the one line [$line]"; return; } ;;
  esac
  if [ "$name" = root-last-created ]; then
    [ -d "$WORK/newroot" ] || { echo "the root base was not created"; return; }
    grep -qF "root base created: $WORK/newroot" "$WORK/$name.out" || { echo "the summary does not say it created the root base"; return; }
  fi
}

make_source "$WORK/src" 30 20
run ingest0 ingest "$WORK/src" --cache "$WORK/cache" || { echo "ingest failed"; exit 1; }
cp -a "$WORK/cache" "$WORK/cache2"
mkdir -p "$WORK/r" "$WORK/empty"
run backup0 backup --cache "$WORK/cache" --root "$WORK/r" --store "$WORK/store" --job 1 || { echo "backup failed"; exit 1; }
: > "$WORK/file"
echo "hostile arguments (work in $WORK):"
while IFS='|' read -r name environment arguments expected line; do
  name=$(echo $name)
  [ -z "$name" ] && continue
  trimmed() { echo "$1" | sed 's/^ *//; s/ *$//'; }
  why=$(run_case "$name" "$(trimmed "$environment")" "$(trimmed "$arguments")" "$(trimmed "$expected")" "$(trimmed "$line")")
  if [ -z "$why" ]; then pass "$name"; else fail "$name" "$why"; fi
  rm -f "$WORK"/*.err "$WORK"/*.out
done <<< "$CASES"
summary "hostile-args"

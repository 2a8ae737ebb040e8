#!/usr/bin/env bash
# Kill trials: backup, ingest and restore are each killed with SIGKILL at random moments drawn
# from a seed, then run again; the rerun must succeed and the backup must verify, restore
# identical and show no damage. Restore is also interrupted with SIGINT (Ctrl-C): it must stop
# with one line saying so and leave no temporary file. A kill may land after the command has ended; the trial still
# counts, and the summary says how many kills landed mid-run.
# Usage: kill_trials.sh [--trials N] [--seed S]   (default 10 trials per command, seed 1)
cd "$(dirname "$0")/../.."
source tests/drills/common.sh
TRIALS=10
SEED=1
while [ $# -gt 0 ]; do
  case $1 in
    --trials) TRIALS=$2; shift 2 ;;
    --seed) SEED=$2; shift 2 ;;
    *) echo "usage: $0 [--trials N] [--seed S]" >&2; exit 2 ;;
  esac
done
FILES=800
# Slow commits keep a backup running long enough for kills to land between them.
SLOW=(--commit-items 8 --faults commitDelay=5)

# A fresh cache of the source under $1.
ingest_into() {
  run "ingest" ingest "$WORK/src" --cache "$1" --extent-size 256KiB --threads 1
}

# Milliseconds a command takes unkilled, to draw kill moments from: $1 name, then the command.
duration_of() {
  local name=$1 start
  shift
  start=$(now_ms)
  run "$name" "$@" > /dev/null || { echo "the unkilled $name failed" >&2; exit 1; }
  echo $(($(now_ms) - start + 1))
}

# Trials run in subshells: kills that landed are counted in a file.
note_kill() {
  case $1 in
    killed*) echo >> "$WORK/landed" ;;
    "ended 0") ;;
    *) echo "the killed command $1 before its kill"; return 1 ;;
  esac
}

backup_trial() {
  local t=$1 delay=$2 dir=$WORK/backup-$1 outcome
  ingest_into "$dir/cache" || { echo "ingest failed"; return; }
  local job=(--cache "$dir/cache" --root "$dir/root" --store "$dir/store" --job-id 4)
  outcome=$(run_and_kill "backup-$t" $delay backup "${job[@]}" "${SLOW[@]}")
  note_kill "$outcome" || return
  run "backup-$t-rerun" backup "${job[@]}" || { echo "the rerun failed"; return; }
  cache_drained "$dir/cache" || return
  intact "$dir/store" 4 "$WORK/src" "backup-$t"
}

ingest_trial() {
  local t=$1 delay=$2 dir=$WORK/ingest-$1 outcome
  outcome=$(run_and_kill "ingest-$t" $delay ingest "$WORK/src" --cache "$dir/cache" --threads 1)
  note_kill "$outcome" || return
  run "ingest-$t-rerun" ingest "$WORK/src" --cache "$dir/cache" || { echo "the rerun of ingest failed"; return; }
  run "ingest-$t-backup" backup --cache "$dir/cache" --root "$dir/root" --store "$dir/store" --job-id 6 \
    || { echo "the backup after the rerun failed"; return; }
  intact "$dir/store" 6 "$WORK/src" "ingest-$t"
}

restore_trial() {
  local t=$1 delay=$2 target=$WORK/restore-$1 outcome
  outcome=$(run_and_kill "restore-$t" $delay restore --store "$WORK/store" --job 8 --to "$target")
  note_kill "$outcome" || return
  run "restore-$t-rerun" restore --store "$WORK/store" --job 8 --to "$target" || { echo "the rerun of restore failed"; return; }
  [ -z "$(find "$target" -name '*.objstore-restore-*')" ] || { echo "a temporary file is left"; return; }
  diff -r "$WORK/src" "$target" > "$WORK/restore-$t.diff" 2>&1 || echo "restored tree differs"
}

# Ctrl-C: restore stops between two objects, says so and leaves no temporary file.
interrupt_trial() {
  local t=$1 delay=$2 target=$WORK/interrupt-$1 outcome
  outcome=$(SIGNAL=INT run_and_kill "interrupt-$t" "$delay" restore --store "$WORK/store" --job 8 --to "$target")
  case $outcome in
    "killed 130")
      # Signalled before it could install its handler, it says nothing; else it says why.
      if [ -s "$WORK/interrupt-$t.err" ]; then
        echo >> "$WORK/landed"
        one_line "interrupt-$t" "objstore-backup: restore failed: interrupted after " \
          || { echo "the interrupted restore did not say so in one line"; return; }
      fi ;;
    # Done before the signal.
    "ended 0" | "killed 0") ;;
    *) echo "the interrupted restore $outcome"; return ;;
  esac
  [ -z "$(find "$target" -name '*.objstore-restore-*' 2> /dev/null)" ] || { echo "a temporary file is left"; return; }
  run "interrupt-$t-rerun" restore --store "$WORK/store" --job 8 --to "$target" || { echo "the rerun of restore failed"; return; }
  diff -r "$WORK/src" "$target" > "$WORK/interrupt-$t.diff" 2>&1 || echo "restored tree differs"
}

# Runs $TRIALS trials of kind $1, drawing kill moments up to $2 ms (here: trials run in
# subshells, whose draws would not follow the seed).
trials() {
  local kind=$1 span=$2 t why delay
  for t in $(seq 1 "$TRIALS"); do
    delay=$((RANDOM % span))
    why=$("${kind}_trial" "$t" "$delay")
    if [ -z "$why" ]; then pass "$kind $t (killed at $delay ms)"; else fail "$kind $t (killed at $delay ms)" "$why"; fi
    rm -f "$WORK"/*.err "$WORK"/*.out
    [ "$KEEP" = 1 ] || rm -rf "$WORK/$kind-$t" "$WORK/$kind-$t-restored"
  done
}

RANDOM=$SEED
make_source "$WORK/src" "$SEED" "$FILES"
RANDOM=$SEED
echo "kill trials, seed $SEED (work in $WORK):"
ingest_into "$WORK/cache-measure" || { echo "ingest failed"; exit 1; }
BACKUP_MS=$(duration_of measure-backup backup --cache "$WORK/cache-measure" --root "$WORK/root" \
  --store "$WORK/store" --job-id 8 "${SLOW[@]}")
INGEST_MS=$(duration_of measure-ingest ingest "$WORK/src" --cache "$WORK/cache-again" --threads 1)
RESTORE_MS=$(duration_of measure-restore restore --store "$WORK/store" --job 8 --to "$WORK/measure-restored")
echo "  unkilled: backup ${BACKUP_MS} ms, ingest ${INGEST_MS} ms, restore ${RESTORE_MS} ms"
trials backup "$BACKUP_MS"
trials ingest "$INGEST_MS"
trials restore "$RESTORE_MS"
trials interrupt "$RESTORE_MS"
echo "  kills that landed mid-run: $(cat "$WORK/landed" 2> /dev/null | wc -l) of $((4 * TRIALS))"
summary "kill-trials"

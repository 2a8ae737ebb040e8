#!/usr/bin/env bash
# Runs every drill against the built host program and ends with one line of totals. The soak
# runs its CI length: a minute with three kills.
# Usage: run_all.sh [--trials N]   (kill trials per command; default 10)
set -uo pipefail
cd "$(dirname "$0")/../.."
trials=()
[ "${1:-}" = --trials ] && trials=(--trials "$2")
passed=0
failed=0
status=0
for drill in fault_matrix.sh disk_full.sh kill_trials.sh damaged_store.sh hostile_args.sh soak.sh; do
  start=$(date +%s)
  args=()
  [ "$drill" = kill_trials.sh ] && args=("${trials[@]}")
  output=$(bash "tests/drills/$drill" "${args[@]}") || status=1
  echo "$output"
  echo "  ($drill took $(($(date +%s) - start)) s)"
  line=$(echo "$output" | tail -1)
  [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]] || { status=1; continue; }
  passed=$((passed + BASH_REMATCH[1]))
  failed=$((failed + BASH_REMATCH[2]))
done
echo "drills: $passed passed, $failed failed"
exit $status

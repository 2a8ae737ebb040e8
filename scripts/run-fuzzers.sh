#!/usr/bin/env bash
# Runs every libFuzzer harness of a build made with -DOBJSTORE_BUILD_FUZZERS=ON for SECONDS
# each (default 30), starting from its seed corpus in fuzz/corpus/<name>. New inputs go into a
# scratch copy, so the seeds stay as they are; a crash leaves its input under
# <build>/fuzz-findings/. Fails when any harness finds a crash, a leak or a timeout.
# Usage: scripts/run-fuzzers.sh BUILD_DIR [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: run-fuzzers.sh BUILD_DIR [SECONDS]}
seconds=${2:-30}
findings=$build/fuzz-findings
mkdir -p "$findings"
failed=0
passed=0
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  harness=$build/fuzz/${name}_fuzz
  scratch=$(mktemp -d)
  cp "$corpus"* "$scratch"/
  # The harness's own files: libFuzzer may end without running exit handlers.
  files=$(mktemp -d)
  if TMPDIR=$files "$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/$name-" "$scratch" > "$findings/$name.log" 2>&1; then
    echo "  ok    $name: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$findings/$name.log" \
      | grep -o '[0-9]*$' || echo '?') runs, corpus of $(ls "$scratch" | wc -l)"
    passed=$((passed + 1))
  else
    echo "  FAIL  $name (inputs and log in $findings):"
    tail -30 "$findings/$name.log" | sed 's/^/        /'
    failed=$((failed + 1))
  fi
  rm -rf "$scratch" "$files"
done
echo "fuzzers: $passed passed, $failed failed"
[ "$failed" = 0 ]

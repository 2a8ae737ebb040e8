# Helpers of the drills: sourced, not run. Each drill works in its own workspace under $WORK,
# runs the host program ($PROGRAM) and counts cells or trials that passed and failed.
set -uo pipefail

PROGRAM=${OBJSTORE_BACKUP:-build/tools/objstore-backup/objstore-backup}
[ -x "$PROGRAM" ] || { echo "drill: no host program at [$PROGRAM] (set OBJSTORE_BACKUP)" >&2; exit 2; }
PROGRAM=$(cd "$(dirname "$PROGRAM")" && pwd)/$(basename "$PROGRAM")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/objstore-drill-XXXXXX")
KEEP=${DRILL_KEEP:-0}
trap '[ "$KEEP" = 1 ] || rm -rf "$WORK"' EXIT
export OBJSTORE_SETTINGS_FILE=$WORK/settings
unset OBJSTORE_PIPELINE_FAULTS OBJSTORE_DISKCACHE_FAULTS OBJSTORE_LOG_FILE OBJSTORE_PIPELINE_STORE
PASSED=0
FAILED=0

# Writes a source tree under $1 from seed $2 with $3 files (default 60): files from empty to a
# few MiB (several extents), names with spaces, a nested directory, a symbolic link and an
# empty directory.
make_source() {
  local dir=$1 seed=$2 files=${3:-60} i size
  RANDOM=$seed
  mkdir -p "$dir/deep/er/est" "$dir/empty dir" "$dir/with space"
  : > "$dir/empty file"
  for i in $(seq 1 "$files"); do
    size=$(( (RANDOM * 7 + i * 131) % 20000 ))
    [ $((i % 20)) = 0 ] && size=$(( 1500000 + RANDOM * 40 ))
    head -c "$size" /dev/urandom > "$dir/$( [ $((i % 3)) = 0 ] && echo "deep/er/est/" )f$i"
  done
  echo "a file with spaces" > "$dir/with space/a b.txt"
  ln -s "../f1" "$dir/deep/link to f1"
}

# Runs the program, its standard output to $1.out and standard error to $1.err under $WORK,
# and returns its status. A run that takes longer than 120 s is killed.
run() {
  local name=$1
  shift
  timeout -s KILL 120 "$PROGRAM" "$@" --no-progress > "$WORK/$name.out" 2> "$WORK/$name.err"
}

# Fails unless the standard error of run $1 is exactly one line starting with $2.
one_line() {
  local err="$WORK/$1.err"
  [ "$(wc -l < "$err")" = 1 ] && head -c ${#2} "$err" | grep -qF -- "$2"
}

# Milliseconds since the epoch.
now_ms() {
  echo $(($(date +%s%N) / 1000000))
}

# Starts the program in the background (output as run() keeps it), sends it SIGKILL (or the
# signal in $SIGNAL) after $2 milliseconds and echoes "killed <status>" or, when it ended
# before, "ended <status>".
run_and_kill() {
  local name=$1 delay=$2 pid status=0
  shift 2
  "$PROGRAM" "$@" --no-progress > "$WORK/$name.out" 2> "$WORK/$name.err" &
  pid=$!
  sleep "$(awk "BEGIN { print $delay / 1000 }")"
  if kill -"${SIGNAL:-KILL}" "$pid" 2> /dev/null; then
    wait "$pid" 2> /dev/null || status=$?
    echo "killed $status"
  else
    wait "$pid" || status=$?
    echo "ended $status"
  fi
}

# The ends of a cell or trial: counts it and says why it failed.
pass() {
  PASSED=$((PASSED + 1))
  echo "  ok    $1"
}
fail() {
  FAILED=$((FAILED + 1))
  echo "  FAIL  $1: $2"
  local file
  for file in "$WORK"/*.err; do
    [ -s "$file" ] && sed 's/^/        /' "$file" | head -5
  done
}

# Checks a store and a restore of job $2 from store $1 against source $3: check and verify
# succeed without leftovers of an interrupted write, and the restored tree equals the source. Uses the name $4 for its runs.
intact() {
  local store=$1 job=$2 source=$3 name=$4
  run "$name-check" check --store "$store" --job "$job" || { echo "check of the store failed"; return 1; }
  # A killed write's temporaries are gone once a later job has opened the store.
  ! grep -q "left by an interrupted write" "$WORK/$name-check.err" \
    || { echo "check found leftovers of an interrupted write"; return 1; }
  run "$name-verify" verify --store "$store" --source "$source" --job "$job" || { echo "verify failed"; return 1; }
  rm -rf "$WORK/$name-restored"
  run "$name-restore" restore --store "$store" --job "$job" --to "$WORK/$name-restored" || { echo "restore failed"; return 1; }
  diff -r "$source" "$WORK/$name-restored" > "$WORK/$name.diff" 2>&1 || { echo "restored tree differs"; return 1; }
  return 0
}

# Whether the disk cache $1 holds no segment (committed objects leave it); says so when it does.
cache_drained() {
  [ -z "$(find "$1" -name '*.seg')" ] || { echo "the cache still holds segments"; return 1; }
}

# The closing line that CI reads.
summary() {
  echo "$1: $PASSED passed, $FAILED failed"
  [ "$FAILED" = 0 ]
}

# Bounds of one hostile case: seconds of wall time and KiB of resident memory.
BOUND_SECONDS=${BOUND_SECONDS:-5}
BOUND_KIB=${BOUND_KIB:-262144}

# Runs the program as run() does, but killed after twice $BOUND_SECONDS, with its address space
# capped (ulimit -v) and its time and peak memory measured (/usr/bin/time); returns its status.
# bounded() then says whether it stayed within the bounds.
run_bounded() {
  local name=$1
  shift
  ( ulimit -v $((BOUND_KIB * 8))
    exec /usr/bin/time -f "%e %M" -o "$WORK/$name.time" \
      timeout -s KILL $((BOUND_SECONDS * 2)) "$PROGRAM" "$@" --no-progress ) \
    > "$WORK/$name.out" 2> "$WORK/$name.err"
}

# Whether run $1 took at most $BOUND_SECONDS and $BOUND_KIB; echoes why not.
bounded() {
  local seconds kib
  read -r seconds kib < <(tail -1 "$WORK/$1.time")
  awk "BEGIN { exit !($seconds <= $BOUND_SECONDS) }" || { echo "took $seconds s"; return 1; }
  [ "$kib" -le "$BOUND_KIB" ] || { echo "took $kib KiB"; return 1; }
}

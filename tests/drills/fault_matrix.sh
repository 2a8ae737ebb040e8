#!/usr/bin/env bash
# The fault matrix: every injectable operation of the pipeline stand-in in every form, the
# commit settings and a full store disk. Each cell ingests a source tree, runs a backup with the
# cell's faults, then checks that
#   - the backup ended as the cell expects: 0 with nothing on standard error, or 1 with one line
#     that says why (2, with the reason, for a fault plan that must be refused);
#   - the store holds no damage (check), whatever the backup met;
#   - a clean rerun of the job succeeds, and verify and restore then give the source back.
# Usage: fault_matrix.sh [NAME-PATTERN]   (run from the repository; OBJSTORE_BACKUP names the
# program when it is not build/tools/objstore-backup/objstore-backup)
cd "$(dirname "$0")/../.."
source tests/drills/common.sh
PATTERN=${1:-}

# One cell per line: name | fault plan | extra backup options | expected status of the faulty
# run (0, 1, 2 or "any") | for 2: text the refusal must contain.
CELLS="
sendHeader            | sendHeader                 |                          | 1 |
sendHeader=n          | sendHeader=7               |                          | 0 |
sendHeader=n+         | sendHeader=7+              |                          | 1 |
sendHeader@id=n       | sendHeader@1=3             |                          | 0 |
sendMetaData          | sendMetaData               |                          | 1 |
sendMetaData=n        | sendMetaData=5             |                          | 0 |
sendMetaData=n+       | sendMetaData=5+            |                          | 1 |
sendMetaData@id=n     | sendMetaData@2=4           |                          | 0 |
sendUserBufData       | sendUserBufData            |                          | 1 |
sendUserBufData=n     | sendUserBufData=9          |                          | 0 |
sendUserBufData=n+    | sendUserBufData=9+         |                          | 1 |
sendUserBufData@id=n  | sendUserBufData@1=6        |                          | 0 |
sendEof               | sendEof                    |                          | 1 |
sendEof=n             | sendEof=11                 |                          | 0 |
sendEof=n+            | sendEof=11+                |                          | 1 |
sendEof@id=n          | sendEof@2=2                |                          | 0 |
commitData            | commitData                 | --high-watermark 0       | any |
commitData=n          | commitData=2               | --high-watermark 0       | any |
commitData=n+         | commitData=2+              | --high-watermark 0       | any |
commitData@id=n       | commitData@1=1             | --high-watermark 0       | any |
commitData-none       |                            | --high-watermark 0       | 0 |
getStreamHandler      | getStreamHandler           |                          | 1 |
getStreamHandler=n    | getStreamHandler=2         |                          | 0 |
getStreamHandler=n+   | getStreamHandler=1+        |                          | 1 |
getStreamHandler@id=n | getStreamHandler@1=3       |                          | 2 | getStreamHandler has no stream
getController         | getController              |                          | 1 |
getController=n       | getController=1            |                          | any |
getController=n+      | getController=1+           |                          | 1 |
getController@id=n    | getController@1=1          |                          | 2 | getController has no stream
endBackup             | endBackup                  |                          | 1 |
endBackup=n           | endBackup=1                |                          | 1 |
endBackup=n+          | endBackup=1+               |                          | 1 |
endBackup@id=n        | endBackup@1=1              |                          | 2 | endBackup has no stream
empty-plan            | ,,,                        |                          | 2 | empty fault rule
commitDelay           | commitDelay=150            | --commit-ms 50           | 0 |
manualCommit          | manualCommit               | --no-commit-wait         | 1 |
manualCommit+faults   | manualCommit,sendEof=4     | --no-commit-wait         | 1 |
store-disk-full       | diskFullAfter=2MiB         |                          | 1 |
store-disk-full-early | diskFullAfter=100KiB       |                          | 1 |
store-disk-full-start | diskFullAfter=0            |                          | 1 |
sendHeader+sendEof=n  | sendHeader=7,sendEof=7     |                          | 0 |
throw=n               | sendUserBufData=5:throw    |                          | 0 |
throw=n+              | sendHeader=9+:throw        |                          | 1 |
flowWindow=1          | flowWindow=1               |                          | 0 |
flowWindow=8          | flowWindow=8               |                          | 0 |
flowWindow+faults     | flowWindow=1,sendHeader=7,sendEof=7,sendEof=12 |        | 0 |
flowWindow+throw      | flowWindow=1,sendEof=4:throw |                        | 0 |
flowWindow+commitData | flowWindow=2,commitData=2  | --high-watermark 0       | any |
flowWindow+manual     | flowWindow=1,manualCommit  |                          | 2 | manualCommit stops them
"

trim() {
  local text=$1
  text=${text#"${text%%[![:space:]]*}"}
  echo "${text%"${text##*[![:space:]]}"}"
}

# Runs one cell in its own directory; echoes why it failed, or nothing.
run_cell() {
  local name=$1 faults=$2 extra=$3 expected=$4 reason=$5
  local dir=$WORK/cells/$name
  mkdir -p "$dir"
  # Forced commits need more uncommitted items per stream than the limit.
  printf 'number\tTarn\tnMaxUncommittedExtents\t3\n' > "$dir/settings"
  export OBJSTORE_SETTINGS_FILE=$dir/settings
  cp -a "$WORK/cache0" "$dir/cache"
  local common=(--cache "$dir/cache" --root "$dir/root" --store "$dir/store" --job-id 21 --commit-items 16)
  local status=0
  # shellcheck disable=SC2086  # the extra options split on purpose
  # An empty plan is no --faults at all: --faults "" is refused.
  run "$name-faulty" backup "${common[@]}" ${faults:+--faults "$faults"} $extra || status=$?
  if [ "$expected" != any ] && [ "$status" != "$expected" ]; then
    echo "the faulty backup ended with $status, not $expected"; return
  fi
  case $status in
    0) [ -s "$WORK/$name-faulty.err" ] && { echo "succeeded but wrote to standard error"; return; } ;;
    1) one_line "$name-faulty" "objstore-backup: backup failed: " || { echo "failure is not one line with a reason"; return; } ;;
    2) one_line "$name-faulty" "objstore-backup: error: " && grep -qF -- "$reason" "$WORK/$name-faulty.err" \
         || echo "refusal does not say [$reason]"
       return ;;
    *) echo "the faulty backup ended with $status"; return ;;
  esac
  if [ -n "$(ls -A "$dir/store" 2> /dev/null)" ]; then
    run "$name-damage" check --store "$dir/store" || { echo "the store shows damage after the faults"; return; }
  fi
  run "$name-rerun" backup "${common[@]}" || { echo "the clean rerun failed"; return; }
  intact "$dir/store" 21 "$WORK/src" "$name" || return
  cache_drained "$dir/cache"
}

make_source "$WORK/src" 11
run ingest0 ingest "$WORK/src" --cache "$WORK/cache0" --extent-size 256KiB || { echo "ingest failed"; exit 1; }
echo "fault matrix (work in $WORK):"
while IFS='|' read -r name faults extra expected reason; do
  name=$(trim "$name")
  [ -z "$name" ] || [ "${name:0:1}" = "#" ] && continue
  [ -n "$PATTERN" ] && [[ "$name" != *$PATTERN* ]] && continue
  why=$(run_cell "$name" "$(trim "$faults")" "$(trim "$extra")" "$(trim "$expected")" "$(trim "$reason")")
  if [ -z "$why" ]; then pass "$name"; else fail "$name" "$why"; fi
  rm -f "$WORK"/*.err "$WORK"/*.out
  [ "$KEEP" = 1 ] || rm -rf "$WORK/cells/$name" "$WORK/$name-restored"
done <<< "$CELLS"
summary "fault-matrix"

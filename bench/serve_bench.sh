#!/usr/bin/env bash
# The backup service against the batch path, on loopback: for each object size, objstore-load's
# clients PUT fixed-size objects to `objstore-backup serve` for a while (no commit waits), then
# the same number of objects of the same size go through `ingest` and `backup`. Prints a
# Markdown table: durable (acknowledged) objects per second and MiB/s, PUT p50/p99, PUT-to-commit
# p50/p99 (the service's histogram), the service's and the clients' CPU seconds, the service's
# syncs per second, the KiB written to the disk per object (after a final sync), and the batch
# path's objects per second, MiB/s and disk KiB per object. With --rounds N, every size runs N times, service and batch in turn, and
# a last table gives each size's median figures and the ratio of the medians.
# Usage: serve_bench.sh [--sizes 4KiB,256KiB] [--clients 16] [--seconds 10] [--rounds 1]
#                       [--build DIR]
set -uo pipefail
cd "$(dirname "$0")/.."
SIZES=4KiB,256KiB
CLIENTS=16
DURATION=10
ROUNDS=1
BUILD=build
while [ $# -gt 0 ]; do
  case $1 in
    --sizes) SIZES=$2; shift 2 ;;
    --clients) CLIENTS=$2; shift 2 ;;
    --seconds) DURATION=$2; shift 2 ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    --build) BUILD=$2; shift 2 ;;
    *) echo "usage: $0 [--sizes LIST] [--clients N] [--seconds S] [--rounds N] [--build DIR]" >&2; exit 2 ;;
  esac
done
PROGRAM=$PWD/$BUILD/tools/objstore-backup/objstore-backup
LOAD=$PWD/$BUILD/tools/objstore-load/objstore-load
[ -x "$PROGRAM" ] && [ -x "$LOAD" ] || { echo "build objstore-backup and objstore-load first" >&2; exit 2; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/serve-bench-XXXXXX")
export OBJSTORE_SETTINGS_FILE=$WORK/settings
SERVE_PID=
cleanup() {
  [ -n "$SERVE_PID" ] && { kill -KILL "$SERVE_PID" 2> /dev/null; wait "$SERVE_PID" 2> /dev/null; }
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Sectors written so far to the block device that holds the work directory; empty when the
# device has no statistics (a file system that is not on a block device).
DEVICE=$(basename "$(df --output=source "$WORK" | tail -1)")
disk_sectors() {
  [ -r "/sys/class/block/$DEVICE/stat" ] && awk '{ print $7 }' "/sys/class/block/$DEVICE/stat"
}

# KiB written to the disk per object between two readings of disk_sectors.
disk_kib_per_object() {
  if [ -n "$1" ] && [ -n "$2" ] && [ "$3" -gt 0 ]; then
    awk -v a="$1" -v b="$2" -v n="$3" 'BEGIN { printf "%.0f", (b - a) / 2 / n }'
  else
    echo -
  fi
}

# CPU seconds (user + system) a process has used so far.
cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"
}

bytes_of() {
  local n=${1%[KMG]iB}
  case $1 in *KiB) echo $((n << 10)) ;; *MiB) echo $((n << 20)) ;; *) echo "$n" ;; esac
}

# One size through the service; prints the row's service half and leaves the count in $COUNT.
serve_case() {
  local size=$1 dir=$WORK/serve-$1 port before after status0 status1 sectors0 sectors1
  mkdir -p "$dir/store"
  port=$(python3 tests/drills/free_port.py)
  "$PROGRAM" serve --listen "127.0.0.1:$port" --cache "$dir/cache" --root "$dir/root" \
    --store "$dir/store" --streams 2 --threads 2 --no-progress > "$dir/serve.out" 2> "$dir/serve.err" &
  SERVE_PID=$!
  for _ in $(seq 1 300); do curl -sf -m 1 -o /dev/null "http://127.0.0.1:$port/healthz" && break; sleep 0.1; done
  before=$(cpu_seconds "$SERVE_PID")
  sectors0=$(disk_sectors)
  status0=$(curl -sf -m 5 "http://127.0.0.1:$port/status")
  /usr/bin/time -f "%U %S" -o "$dir/load.time" "$LOAD" run --server "127.0.0.1:$port" \
    --clients "$CLIENTS" --seconds "$DURATION" --size "$size" --wait-percent 0 --keys 100000 \
    > "$dir/load.json"
  after=$(cpu_seconds "$SERVE_PID")
  sync
  sectors1=$(disk_sectors)
  status1=$(curl -sf -m 5 "http://127.0.0.1:$port/status")
  # The commits of the last PUTs, before the histogram is read.
  for _ in $(seq 1 100); do
    [ "$(curl -sf -m 2 "http://127.0.0.1:$port/status" | jq .objects_waiting)" = 0 ] && break
    sleep 0.2
  done
  curl -sf -m 5 "http://127.0.0.1:$port/metrics" > "$dir/metrics.prom"
  kill -TERM "$SERVE_PID"
  for _ in $(seq 1 600); do kill -0 "$SERVE_PID" 2> /dev/null || break; sleep 0.1; done
  wait "$SERVE_PID" 2> /dev/null
  SERVE_PID=
  python3 - "$dir" "$before" "$after" "$status0" "$status1" "$sectors0" "$sectors1" << 'EOF'
import json, sys
d, before, after = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
s0, s1 = json.loads(sys.argv[4]), json.loads(sys.argv[5])
sectors = sys.argv[6:8]
load = json.load(open(d + "/load.json"))
user, system = map(float, open(d + "/load.time").read().split()[-2:])
buckets = []
for line in open(d + "/metrics.prom"):
    if line.startswith("objstore_serve_put_to_commit_seconds_bucket"):
        le = line.split('le="')[1].split('"')[0]
        buckets.append((float("inf") if le == "+Inf" else float(le), float(line.split()[-1])))
buckets.sort()
def quantile(q):
    total = buckets[-1][1] if buckets else 0
    for le, count in buckets:
        if count >= q * total:
            return "%.3g" % (le * 1000) if le != float("inf") else "inf"
    return "-"
seconds = load["seconds"]
syncs = (s1.get("syncs", 0) - s0.get("syncs", 0)) / seconds if seconds else 0
disk = "-"
if all(sectors) and load["created"]:
    disk = "%.0f" % ((int(sectors[1]) - int(sectors[0])) / 2 / load["created"])
print("%d %.0f|%.1f|%.1f|%.1f|<=%s|<=%s|%.1f|%.1f|%.0f|%s" % (
    load["created"], load["acknowledged_per_second"], load["acknowledged_mib_per_second"],
    load["put_p50_ms"], load["put_p99_ms"], quantile(0.5), quantile(0.99), after - before,
    user + system, syncs, disk))
EOF
}

# The same number of objects of the same size through ingest and backup.
batch_case() {
  local size=$1 count=$2 bytes dir=$WORK/batch-$1 start ingest backup sectors0 sectors1 disk
  bytes=$(bytes_of "$size")
  mkdir -p "$dir/src"
  python3 - "$dir/src" "$count" "$bytes" << 'EOF'
import os, sys
d, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
block = os.urandom(size)
for i in range(count):
    sub = os.path.join(d, "c%d" % (i % 16))
    os.makedirs(sub, exist_ok=True)
    with open(os.path.join(sub, "k%d" % i), "wb") as f:
        f.write(block[i % 64:] + block[:i % 64])
EOF
  sync
  sectors0=$(disk_sectors)
  start=$(date +%s.%N)
  "$PROGRAM" ingest "$dir/src" --cache "$dir/cache" --no-progress > /dev/null || return 1
  ingest=$(awk "BEGIN { print $(date +%s.%N) - $start }")
  start=$(date +%s.%N)
  "$PROGRAM" backup --cache "$dir/cache" --root "$dir/root" --store "$dir/store" --streams 2 \
    --threads 2 --no-progress > /dev/null || return 1
  backup=$(awk "BEGIN { print $(date +%s.%N) - $start }")
  sync
  sectors1=$(disk_sectors)
  disk=$(disk_kib_per_object "$sectors0" "$sectors1" "$count")
  awk -v n="$count" -v b="$bytes" -v i="$ingest" -v k="$backup" -v disk="$disk" \
    'BEGIN { printf "%.1f|%.1f|%.0f|%.1f|%s", i, k, n / (i + k), n * b / (i + k) / 1048576, disk }'
}

echo "| size | round | durable PUTs/s | MiB/s | PUT p50 ms | PUT p99 ms | PUT-to-commit p50 ms | p99 ms | service CPU s | clients CPU s | syncs/s | disk KiB/object | batch ingest s | batch backup s | batch objects/s | batch MiB/s | batch disk KiB/object |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
ROWS=$WORK/rows
for round in $(seq 1 "$ROUNDS"); do
  for size in ${SIZES//,/ }; do
    read -r count row < <(serve_case "$size")
    batch=$(batch_case "$size" "$count") || batch="failed||||"
    echo "| $size | $round | $row | $batch |" | tee -a "$ROWS"
    rm -rf "$WORK/serve-$size" "$WORK/batch-$size"
  done
done
echo "($CLIENTS clients, $DURATION s per size, $(nproc) CPUs)"
[ "$ROUNDS" -gt 1 ] || exit 0
echo
echo "| size | rounds | median durable PUTs/s | median MiB/s | median batch MiB/s | ratio of the medians | ratio per round |"
echo "|---|---|---|---|---|---|---|"
python3 - "$ROWS" << 'EOF'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    cells = [c.strip() for c in line.strip().strip("|").split("|")]
    try:
        rows.setdefault(cells[0], []).append((float(cells[2]), float(cells[3]), float(cells[15])))
    except (ValueError, IndexError):
        pass  # a failed batch run has no figures
for size, runs in rows.items():
    puts = statistics.median(r[0] for r in runs)
    mib = statistics.median(r[1] for r in runs)
    batch = statistics.median(r[2] for r in runs)
    ratios = ", ".join("%.2f" % (r[1] / r[2]) for r in runs if r[2] > 0)
    print("| %s | %d | %.0f | %.1f | %.1f | %.2f | %s |" % (
        size, len(runs), puts, mib, batch, mib / batch if batch else 0, ratios))
EOF

#!/usr/bin/env bash
# Soak: the backup service (objstore-backup serve) under a steady load of PUTs from
# objstore-load, with pipeline faults injected, killed with SIGKILL at random moments and started
# again, then stopped with SIGTERM. Then:
#   - the load's checker proves the store and a restore of its latest copies against the request
#     log: every acknowledged PUT restored byte for byte (the latest acknowledged generation or a
#     later one), every 200 among the committed items when it was answered, nothing stored that
#     no client PUT, duplicates only across a kill (counted);
#   - `check` finds no damage in the store; no job directory is left under the root and the
#     cache holds no segment;
#   - RSS, open fds, threads and the library's registries, sampled every second from /status,
#     stay flat once warm, and the series count of /metrics stops growing;
#   - where Prometheus is installed, a Prometheus server scraping /metrics every second shows
#     committed objects in every window without a kill and a finite p99 commit latency.
# Every process it starts is killed on the way out, whatever happens; everything binds to and
# connects to 127.0.0.1 only; every wait is bounded.
# Usage: soak.sh [--minutes D] [--kills K] [--seed S] [--rate R] [--clients N]
#   CI: the defaults (1 minute, 3 kills). The long soak: --minutes 30 --kills 30.
cd "$(dirname "$0")/../.."
source tests/drills/common.sh
LOAD=${OBJSTORE_LOAD:-$(dirname "$PROGRAM")/../objstore-load/objstore-load}
[ -x "$LOAD" ] || { echo "soak: no load generator at [$LOAD] (set OBJSTORE_LOAD)" >&2; exit 2; }
MINUTES=1
KILLS=3
SEED=1
RATE=150
CLIENTS=8
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) MINUTES=$2; shift 2 ;;
    --kills) KILLS=$2; shift 2 ;;
    --seed) SEED=$2; shift 2 ;;
    --rate) RATE=$2; shift 2 ;;
    --clients) CLIENTS=$2; shift 2 ;;
    *) echo "usage: $0 [--minutes D] [--kills K] [--seed S] [--rate R] [--clients N]" >&2; exit 2 ;;
  esac
done
SECONDS_TOTAL=$(awk "BEGIN { printf \"%d\", $MINUTES * 60 }")
[ "$SECONDS_TOTAL" -ge 20 ] || { echo "soak: at least 20 seconds (--minutes 0.34)" >&2; exit 2; }
# A window of the Prometheus check: a minute, or 20 s for runs under five minutes.
WINDOW=60
[ "$SECONDS_TOTAL" -lt 300 ] && WINDOW=20
# Faults of the pipeline, counted per process: each incarnation of the service meets them.
FAULTS=${SOAK_FAULTS:-sendHeader=50,sendUserBufData=400,sendEof=900,commitData=3}

CACHE=$WORK/cache ROOT=$WORK/root STORE=$WORK/store
SERVE_PID= LOAD_PID= SAMPLER_PID= PROM_PID=
INCARNATION=0

# The way out: every process this drill started is killed (by its own id) and waited for.
cleanup() {
  local pid
  for pid in $LOAD_PID $SAMPLER_PID $SERVE_PID $PROM_PID; do
    kill -KILL "$pid" 2> /dev/null
  done
  for pid in $LOAD_PID $SAMPLER_PID $SERVE_PID $PROM_PID; do
    wait "$pid" 2> /dev/null
  done
  [ "$KEEP" = 1 ] || rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A TCP port of 127.0.0.1 that is free now and that no client connection can take while the
# service restarts.
free_port() {
  python3 tests/drills/free_port.py
}

# Waits until URL $1 answers 200, at most $2 seconds, while process $3 lives.
wait_ready() {
  local url=$1 limit=$2 pid=$3 start
  start=$(date +%s)
  while [ $(($(date +%s) - start)) -lt "$limit" ]; do
    kill -0 "$pid" 2> /dev/null || return 1
    curl -sf -m 1 -o /dev/null "$url" && return 0
    sleep 0.1
  done
  return 1
}

# Starts the service (a new incarnation) and waits until it takes objects.
start_service() {
  INCARNATION=$((INCARNATION + 1))
  echo "$INCARNATION" > "$WORK/incarnation"
  "$PROGRAM" serve --listen "127.0.0.1:$PORT" --cache "$CACHE" --root "$ROOT" --store "$STORE" \
    --streams 3 --threads 4 --job-objects 2000 --job-seconds 5 --ack-timeout 30 --commit-ms 200 \
    --faults "$FAULTS" --no-progress > "$WORK/serve-$INCARNATION.out" 2> "$WORK/serve-$INCARNATION.err" &
  SERVE_PID=$!
  if ! wait_ready "http://127.0.0.1:$PORT/healthz" 60 "$SERVE_PID"; then
    echo "  FAIL  the service (incarnation $INCARNATION) did not become ready"
    sed 's/^/        /' "$WORK/serve-$INCARNATION.err" | head -5
    exit 1
  fi
  echo "$(date +%s.%N) $INCARNATION" >> "$WORK/starts.log"
}

# Every second: /status and the series count of /metrics, tagged with the incarnation.
sample_loop() {
  local deadline=$1 now status series
  while [ ! -e "$WORK/stop-sampling" ] && [ "$(date +%s)" -lt "$deadline" ]; do
    now=$(date +%s.%N)
    status=$(curl -sf -m 1 "http://127.0.0.1:$PORT/status" | tr -d '\n')
    [ -n "$status" ] && echo "$now $(cat "$WORK/incarnation") $status" >> "$WORK/status.log"
    series=$(curl -sf -m 2 "http://127.0.0.1:$PORT/metrics" | grep -vc '^#')
    [ "${series:-0}" -gt 0 ] && echo "$now $(cat "$WORK/incarnation") $series" >> "$WORK/series.log"
    sleep 1
  done
}

# A Prometheus server on 127.0.0.1 scraping the service every second, when one is installed.
start_prometheus() {
  command -v prometheus > /dev/null || { echo "  (prometheus not installed: its checks are skipped)"; return; }
  PROM_PORT=$(free_port)
  cat > "$WORK/prometheus.yml" << EOF
global:
  scrape_interval: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: objstore-serve
    static_configs:
      - targets: ['127.0.0.1:$PORT']
EOF
  prometheus --config.file="$WORK/prometheus.yml" --storage.tsdb.path="$WORK/prometheus" \
    --web.listen-address="127.0.0.1:$PROM_PORT" > "$WORK/prometheus.log" 2>&1 &
  PROM_PID=$!
  wait_ready "http://127.0.0.1:$PROM_PORT/-/ready" 30 "$PROM_PID" \
    || { echo "  FAIL  Prometheus did not become ready"; tail -3 "$WORK/prometheus.log"; exit 1; }
}

# Kill moments: K seconds drawn from the seed, between a tenth and 55% of the run, so that the
# rest runs without a kill: its memory must stay flat, and it holds windows for Prometheus.
kill_moments() {
  local first=$((SECONDS_TOTAL / 10)) last=$((SECONDS_TOTAL * 55 / 100))
  RANDOM=$SEED
  for _ in $(seq 1 "$KILLS"); do
    echo $((first + RANDOM % (last - first + 1)))
  done | sort -n
}

# Waits for process $1 at most $2 seconds; kills it when it is still there. Returns its status.
bounded_wait() {
  local pid=$1 limit=$2 start status=0
  start=$(date +%s)
  while kill -0 "$pid" 2> /dev/null && [ $(($(date +%s) - start)) -lt "$limit" ]; do
    sleep 0.2
  done
  kill -0 "$pid" 2> /dev/null && { kill -KILL "$pid"; echo "killed after $limit s" >> "$WORK/timeouts"; }
  wait "$pid" 2> /dev/null || status=$?
  return $status
}

PORT=$(free_port)
echo "soak: $MINUTES minute(s), $KILLS kills, seed $SEED, $CLIENTS clients at $RATE PUTs/s, faults $FAULTS (work in $WORK)"
mkdir -p "$STORE"
start_service
start_prometheus
BEGIN=$(date +%s)
sample_loop $((BEGIN + SECONDS_TOTAL + 120)) &
SAMPLER_PID=$!
"$LOAD" run --server "127.0.0.1:$PORT" --clients "$CLIENTS" --seconds "$SECONDS_TOTAL" --rate "$RATE" \
  --seed "$SEED" --wait-percent 10 --grace 40 --log "$WORK/puts.log" --store "$STORE" \
  > "$WORK/load.json" 2> "$WORK/load.err" &
LOAD_PID=$!

for moment in $(kill_moments); do
  while [ $(($(date +%s) - BEGIN)) -lt "$moment" ]; do sleep 0.1; done
  # A moment within the second, so that kills do not all land on a second's edge.
  sleep "0.$((RANDOM % 10))"
  kill -KILL "$SERVE_PID"
  wait "$SERVE_PID" 2> /dev/null
  echo "$(date +%s.%N)" >> "$WORK/kills.log"
  start_service
done

# The load ends by itself after its duration and a grace for its last answers.
if bounded_wait "$LOAD_PID" $((SECONDS_TOTAL - ($(date +%s) - BEGIN) + 60)); then
  pass "the load ran: $(cat "$WORK/load.json")"
else
  fail "the load" "it failed: $(cat "$WORK/load.json" "$WORK/load.err" | head -3)"
fi
LOAD_PID=
END=$(date +%s)
touch "$WORK/stop-sampling"
bounded_wait "$SAMPLER_PID" 10
SAMPLER_PID=

kill -TERM "$SERVE_PID"
if bounded_wait "$SERVE_PID" 90; then
  pass "SIGTERM stopped the service with status 0"
else
  fail "SIGTERM" "the service ended with status $? (or was killed after 90 s)"
fi
SERVE_PID=

if [ -n "$PROM_PID" ]; then
  if python3 tests/drills/soak_prometheus.py --url "http://127.0.0.1:$PROM_PORT" --begin "$BEGIN" \
      --end "$END" --window "$WINDOW" --kills "$WORK/kills.log" > "$WORK/prometheus.out" 2>&1; then
    pass "Prometheus: $(tail -1 "$WORK/prometheus.out")"
  else
    fail "Prometheus" "$(grep -m3 FAIL "$WORK/prometheus.out" || tail -3 "$WORK/prometheus.out")"
  fi
  kill -TERM "$PROM_PID"
  bounded_wait "$PROM_PID" 20
  PROM_PID=
fi

# The latest copy of every object, restored: `restore` without --job where the program has it;
# else job by job in job order, each overwriting the ones before (job ids grow with time).
restore_latest() {
  run restore restore --store "$STORE" --to "$WORK/restored" && return 0
  grep -q -- "--job" "$WORK/restore.err" || return 1
  local job
  for job in $("$PROGRAM" list --store "$STORE" --json --no-progress | jq -r '.[].job' | sort -nu); do
    run restore restore --store "$STORE" --job "$job" --to "$WORK/restored" --overwrite || return 1
  done
}
if restore_latest; then
  pass "restore of the latest copies"
else
  fail "restore of the latest copies" "$(head -3 "$WORK/restore.err")"
fi
if run check check --store "$STORE"; then
  pass "check finds no damage in the store"
else
  fail "check of the store" "$(head -3 "$WORK/check.out" "$WORK/check.err")"
fi
if timeout -s KILL 600 "$LOAD" check --seed "$SEED" --log "$WORK/puts.log" --store "$STORE" \
    --restored "$WORK/restored" > "$WORK/verdict.out" 2>&1; then
  pass "the store and the restore hold what the clients PUT: $(tail -1 "$WORK/verdict.out")"
else
  fail "what the clients PUT" "$(head -5 "$WORK/verdict.out")"
fi

leftover=$(find "$ROOT" -mindepth 2 -maxdepth 2 -type d 2> /dev/null | head -3)
[ -z "$leftover" ] && pass "no job directory left under the root" \
  || fail "job directories" "left under the root: $leftover"
segments=$(find "$CACHE" -type f 2> /dev/null | wc -l)
[ "$segments" = 0 ] && pass "the cache is empty" || fail "the cache" "it still holds $segments files"

if python3 tests/drills/soak_flat.py --status "$WORK/status.log" --series "$WORK/series.log" \
    > "$WORK/flat.out" 2>&1; then
  pass "flat once warm: $(tail -1 "$WORK/flat.out")"
else
  fail "flat once warm" "$(grep -m3 FAIL "$WORK/flat.out" || tail -3 "$WORK/flat.out")"
fi
[ -e "$WORK/timeouts" ] && fail "bounded waits" "$(cat "$WORK/timeouts")"
echo "  kills: $(wc -l < "$WORK/kills.log" 2> /dev/null || echo 0), took $(($(date +%s) - BEGIN)) s"
summary "soak"

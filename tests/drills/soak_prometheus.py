#!/usr/bin/env python3
"""Queries the Prometheus server of a soak (soak.sh): committed objects in every window of the
run that holds no kill (windows start every quarter window), and a finite p99 commit latency
over the whole run. Prints one line per
window and a last summary line; exits 1 when a check fails. Standard library only."""
import argparse
import json
import math
import sys
import urllib.parse
import urllib.request

COMMITTED = "objstore_backup_items_committed_total"
LATENCY = "objstore_serve_put_to_commit_seconds_bucket"


def query(url, expression, at):
    """The value of an instant query summed over its series; None when it has none."""
    address = url + "/api/v1/query?" + urllib.parse.urlencode({"query": expression, "time": at})
    with urllib.request.urlopen(address, timeout=10) as answer:
        body = json.load(answer)
    if body.get("status") != "success":
        raise RuntimeError("query %s failed: %s" % (expression, body))
    result = body["data"]["result"]
    if not result:
        return None
    return sum(float(series["value"][1]) for series in result)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--url", required=True)
    parser.add_argument("--begin", type=float, required=True)
    parser.add_argument("--end", type=float, required=True)
    parser.add_argument("--window", type=int, default=60)
    parser.add_argument("--kills", required=True)
    args = parser.parse_args()
    try:
        with open(args.kills) as kills_file:
            kills = [float(line.split()[0]) for line in kills_file if line.strip()]
    except FileNotFoundError:
        kills = []

    failed = False
    checked = 0
    start = args.begin
    while start + args.window <= args.end:
        end = start + args.window
        if any(start <= kill <= end for kill in kills):
            print("window %d..%d s: a kill, not checked" % (start - args.begin, end - args.begin))
        else:
            committed = query(args.url, "sum(increase(%s[%ds]))" % (COMMITTED, args.window), end)
            checked += 1
            rate = (committed or 0) / args.window
            ok = rate > 0
            failed |= not ok
            print("%s window %d..%d s: %.1f committed objects/s"
                  % ("ok  " if ok else "FAIL", start - args.begin, end - args.begin, rate))
        start += args.window / 4
    if checked == 0:
        print("FAIL no window without a kill to check")
        failed = True

    span = int(args.end - args.begin) + 5
    quantiles = {}
    for q in (0.5, 0.99):
        quantiles[q] = query(args.url, "histogram_quantile(%s, sum by (le) (increase(%s[%ds])))"
                             % (q, LATENCY, span), args.end)
    p99 = quantiles[0.99]
    if p99 is None or math.isnan(p99) or math.isinf(p99):
        print("FAIL the p99 PUT-to-commit latency is not finite: %s" % p99)
        failed = True
    total = query(args.url, "sum(increase(%s[%ds]))" % (COMMITTED, span), args.end) or 0
    print("%d windows of %d s without a kill checked, %.1f committed objects/s over the run, "
          "PUT-to-commit p50 %s s, p99 %s s"
          % (checked, args.window, total / (args.end - args.begin), quantiles[0.5], p99))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

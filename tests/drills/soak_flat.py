#!/usr/bin/env python3
"""Whether the service of a soak (soak.sh) stays flat once warm, from its samples of /status
and of the series count of /metrics, one a second. Each incarnation (a start of the service)
is judged alone, since a kill starts a fresh process: the last one when it ran at least
MIN_SECONDS, the others when they ran at least three warm-ups (a process killed within a few
minutes is still growing its arenas and caches, which is no leak). Once warm
(after a minute, or after the first third of a shorter incarnation), RSS grows by at most
RSS_SLACK over the RSS at the warm point; open fds and threads stay within a small slack of
what they reached while warming; the library's registries and the series count stop growing.
Prints one line per incarnation and a summary; exits 1 when one is not flat."""
import argparse
import json
import sys

MIN_SECONDS = 15
WARM_SECONDS = 60
RSS_SLACK = 10 << 20
SLACK = {"open_fds": 16, "threads": 8, "controllers": 0, "streams_registered": 0, "series": 8}


def read_samples(path, parse):
    """incarnation -> [(time, value dict)], in time order."""
    samples = {}
    try:
        with open(path) as lines:
            for line in lines:
                parts = line.split(" ", 2)
                if len(parts) < 3:
                    continue
                try:
                    value = parse(parts[2])
                except ValueError:
                    continue
                samples.setdefault(int(parts[1]), []).append((float(parts[0]), value))
    except FileNotFoundError:
        pass
    return samples


def status_values(text):
    status = json.loads(text)
    process, library = status.get("process", {}), status.get("library", {})
    return {"rss": process["rss_bytes"], "open_fds": process["open_fds"],
            "threads": process["threads"], "controllers": library["controllers"],
            "streams_registered": library["streams_registered"]}


def judge(incarnation, samples, series):
    """Failure lines and one summary line for one incarnation."""
    first, last = samples[0][0], samples[-1][0]
    warm_at = first + min(WARM_SECONDS, (last - first) / 3)
    warm = [values for at, values in samples if at <= warm_at]
    later = [values for at, values in samples if at > warm_at]
    failures = []
    rss_warm, rss_end = warm[-1]["rss"], samples[-1][1]["rss"]
    if rss_end - rss_warm > RSS_SLACK:
        failures.append("RSS grew from %.1f MiB at the warm point to %.1f MiB"
                        % (rss_warm / 2**20, rss_end / 2**20))
    for name in ("open_fds", "threads", "controllers", "streams_registered"):
        reached, peak = max(v[name] for v in warm), max(v[name] for v in later)
        if peak > reached + SLACK[name]:
            failures.append("%s rose to %d once warm, from at most %d" % (name, peak, reached))
    series_warm = [count for at, count in series if at <= warm_at]
    series_later = [count for at, count in series if at > warm_at]
    if series_warm and series_later and max(series_later) > max(series_warm) + SLACK["series"]:
        failures.append("the series count of /metrics grew to %d once warm, from at most %d"
                        % (max(series_later), max(series_warm)))
    summary = ("incarnation %d (%.0f s, %d samples): RSS %.1f -> %.1f MiB, fds %d -> %d, "
               "threads %d -> %d, series %s -> %s"
               % (incarnation, last - first, len(samples), rss_warm / 2**20, rss_end / 2**20,
                  warm[-1]["open_fds"], samples[-1][1]["open_fds"], warm[-1]["threads"],
                  samples[-1][1]["threads"], max(series_warm or [0]), max(series_later or [0])))
    return [("FAIL incarnation %d: " % incarnation) + f for f in failures], summary


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--status", required=True)
    parser.add_argument("--series", required=True)
    args = parser.parse_args()
    status = read_samples(args.status, status_values)
    series = read_samples(args.series, int)
    failed = False
    judged = []
    last = max(status) if status else 0
    for incarnation in sorted(status):
        samples = status[incarnation]
        least = MIN_SECONDS if incarnation == last else 3 * WARM_SECONDS
        if len(samples) < 4 or samples[-1][0] - samples[0][0] < least:
            print("incarnation %d: %d samples, too short to judge" % (incarnation, len(samples)))
            continue
        failures, summary = judge(incarnation, samples, series.get(incarnation, []))
        for line in failures:
            print(line)
        failed |= bool(failures)
        judged.append(summary)
        print(summary)
    if not judged:
        print("FAIL no incarnation ran long enough to be judged")
        return 1
    print(judged[-1])
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

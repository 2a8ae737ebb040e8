// The progress line: percent, done/total and the time left only when the total is known, the
// estimate at the rate so far.
#include "Progress.h"

#include <gtest/gtest.h>

namespace objstore_host {
namespace {

struct TimeLeftCase {
  uint64_t done;
  uint64_t total;
  double seconds;
  const char* expected;
};

TEST(ProgressTest, TimeLeftAtTheRateSoFar) {
  const TimeLeftCase cases[] = {
      {0, 100, 5, ""},             // nothing done: no rate yet
      {10, 0, 5, ""},              // total unknown
      {100, 100, 5, ""},           // done
      {50, 100, 0, ""},            // no time passed
      {50, 100, 10, "ETA 10s"},    // half done in 10 s
      {25, 100, 20, "ETA 1m00s"},  // 75 left at 1.25 per second
      {1, 100, 65, "ETA 1h47m"},   // 99 x 65 s = 6435 s
      {99, 100, 99, "ETA 1s"},
      {10, 130, 5.5, "ETA 1m06s"},  // 120 x 0.55 s
  };
  for (const TimeLeftCase& c : cases) {
    EXPECT_EQ(c.expected, ProgressReporter::TimeLeft(c.done, c.total, c.seconds))
        << c.done << "/" << c.total << " after " << c.seconds << " s";
  }
}

TEST(ProgressTest, LineShowsPercentOnlyWithAKnownTotal) {
  ProgressSnapshot counters;
  counters.items = 6;
  counters.bytes = 3 << 20;
  EXPECT_EQ("restore  6 items  3.0 MiB  1.5 MiB/s  3 items/s",
            ProgressReporter::Line("restore", counters, 2, ProgressStyle::kLines, false));

  counters.totalItems = 24;
  counters.committed = 4;
  EXPECT_EQ(
      "backup   [######..................]  25%  6/24 items  ETA 6s  3.0 MiB  1.5 MiB/s  3 "
      "items/s  committed 4  failed 0  uncommitted 0",
      ProgressReporter::Line("backup", counters, 2, ProgressStyle::kBar, true));
  counters.uncommitted = 2;
  counters.commitP99Micros = 101500;  // the commit latency shows once a commit came
  EXPECT_NE(std::string::npos,
            ProgressReporter::Line("backup", counters, 2, ProgressStyle::kLines, true)
                .find("failed 0  uncommitted 2  commit p99 101.5 ms"));
}

}  // namespace
}  // namespace objstore_host

#include "LatencyHistogram.h"

#include <gtest/gtest.h>

#include <vector>

namespace ObjectStore {
namespace {

struct Distribution {
  const char* name;
  std::vector<int64_t> micros;
  int64_t min, max, p50, p99;
  double mean;
};

class LatencyHistogramTest : public ::testing::TestWithParam<Distribution> {};

// Percentiles are bucket bounds, exact to a factor of two, never outside [min, max].
TEST_P(LatencyHistogramTest, ReadsBackWhatWasAdded) {
  const Distribution& d = GetParam();
  LatencyHistogram histogram;
  for (int64_t m : d.micros) histogram.add(m);
  EXPECT_EQ(d.micros.size(), histogram.count());
  EXPECT_EQ(d.min, histogram.minMicros());
  EXPECT_EQ(d.max, histogram.maxMicros());
  EXPECT_EQ(d.p50, histogram.percentileMicros(0.5));
  EXPECT_EQ(d.p99, histogram.percentileMicros(0.99));
  EXPECT_DOUBLE_EQ(d.mean, histogram.meanMicros());
  uint64_t inBuckets = 0;
  for (int i = 0; i < LatencyHistogram::kBuckets; ++i) inBuckets += histogram.bucketCount(i);
  EXPECT_EQ(histogram.count(), inBuckets);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LatencyHistogramTest,
    ::testing::Values(
        Distribution{"Empty", {}, 0, 0, 0, 0, 0.0},
        Distribution{"One", {700}, 700, 700, 700, 700, 700.0},
        // 1..100: the 50th lies in the bucket (32, 64], the 99th in (64, 128], clamped to 100.
        Distribution{"Ramp",
                     [] {
                       std::vector<int64_t> v;
                       for (int i = 1; i <= 100; ++i) v.push_back(i);
                       return v;
                     }(),
                     1, 100, 64, 100, 50.5},
        Distribution{"NegativeIsZero", {-5, 0, 1}, 0, 1, 1, 1, 1.0 / 3},
        // Beyond the last bound: the open bucket, read as the maximum.
        Distribution{"Huge",
                     {int64_t(1) << 40, 3},
                     3,
                     int64_t(1) << 40,
                     4,
                     int64_t(1) << 40,
                     ((int64_t(1) << 40) + 3) / 2.0}),
    [](const ::testing::TestParamInfo<Distribution>& info) { return info.param.name; });

TEST(LatencyHistogramMergeTest, MergeEqualsAddingBoth) {
  LatencyHistogram a, b, both;
  for (int64_t m : {5, 900, 40}) {
    a.add(m);
    both.add(m);
  }
  for (int64_t m : {2, 7000000}) {
    b.add(m);
    both.add(m);
  }
  a.merge(b);
  EXPECT_EQ(both.count(), a.count());
  EXPECT_EQ(both.minMicros(), a.minMicros());
  EXPECT_EQ(both.maxMicros(), a.maxMicros());
  EXPECT_EQ(both.sumMicros(), a.sumMicros());
  for (int i = 0; i < LatencyHistogram::kBuckets; ++i)
    EXPECT_EQ(both.bucketCount(i), a.bucketCount(i));
}

}  // namespace
}  // namespace ObjectStore

// LatencyHistogram: a distribution of durations in microseconds, in buckets whose bounds double
// from 1 us to about 67 s, plus one for everything longer. Adding is a few instructions and
// allocates nothing; percentiles are read off the buckets, so they are exact to within the
// bucket that holds them (a factor of two at most), and never outside [min, max].
// Not thread-safe: the owner guards it (a stream record, by its item lock).
#ifndef OBJSTORE_STREAM_CACHE_LATENCYHISTOGRAM_H_
#define OBJSTORE_STREAM_CACHE_LATENCYHISTOGRAM_H_

#include <array>
#include <cstdint>

#include "ObjStoreExport.h"

namespace ObjectStore {

class OBJSTORE_API LatencyHistogram {
 public:
  static constexpr int kBuckets = 28;

  // Counts one duration; a negative one counts as 0.
  void add(int64_t micros);
  // Adds every count of `other`.
  void merge(const LatencyHistogram& other);

  uint64_t count() const { return count_; }
  int64_t sumMicros() const { return sum_; }
  int64_t minMicros() const { return count_ == 0 ? 0 : min_; }
  int64_t maxMicros() const { return max_; }
  double meanMicros() const;
  // The smallest bucket bound below which at least `fraction` (0 to 1) of the durations lie,
  // clamped to [min, max]; 0 without durations.
  int64_t percentileMicros(double fraction) const;

  // Durations in bucket `i`: at most UpperBoundMicros(i) and more than the bound before.
  uint64_t bucketCount(int i) const { return buckets_[i]; }
  // 2^i microseconds; the last bucket has no bound (returns -1).
  static int64_t UpperBoundMicros(int i);

 private:
  static int BucketOf(int64_t micros);

  std::array<uint64_t, kBuckets> buckets_{};
  uint64_t count_ = 0;
  int64_t sum_ = 0;
  int64_t min_ = 0;
  int64_t max_ = 0;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_STREAM_CACHE_LATENCYHISTOGRAM_H_

#include "LatencyHistogram.h"

#include <algorithm>
#include <cmath>

namespace ObjectStore {

int LatencyHistogram::BucketOf(int64_t micros) {
  if (micros <= 1) return 0;
  // The bucket whose bound 2^i is the first at or above `micros`.
  const int bits = 64 - __builtin_clzll(static_cast<uint64_t>(micros - 1));
  return std::min(bits, kBuckets - 1);
}

int64_t LatencyHistogram::UpperBoundMicros(int i) {
  return i >= kBuckets - 1 ? -1 : (int64_t{1} << i);
}

void LatencyHistogram::add(int64_t micros) {
  if (micros < 0) micros = 0;
  ++buckets_[BucketOf(micros)];
  min_ = count_ == 0 ? micros : std::min(min_, micros);
  max_ = std::max(max_, micros);
  ++count_;
  sum_ += micros;
}

void LatencyHistogram::merge(const LatencyHistogram& other) {
  if (other.count_ == 0) return;
  for (int i = 0; i < kBuckets; ++i) buckets_[i] += other.buckets_[i];
  min_ = count_ == 0 ? other.min_ : std::min(min_, other.min_);
  max_ = std::max(max_, other.max_);
  count_ += other.count_;
  sum_ += other.sum_;
}

double LatencyHistogram::meanMicros() const {
  return count_ == 0 ? 0.0 : static_cast<double>(sum_) / static_cast<double>(count_);
}

int64_t LatencyHistogram::percentileMicros(double fraction) const {
  if (count_ == 0) return 0;
  const double wanted = std::ceil(std::clamp(fraction, 0.0, 1.0) * static_cast<double>(count_));
  uint64_t seen = 0;
  for (int i = 0; i < kBuckets; ++i) {
    seen += buckets_[i];
    if (static_cast<double>(seen) >= wanted && seen > 0) {
      const int64_t bound = UpperBoundMicros(i);
      return std::clamp(bound < 0 ? max_ : bound, min_, max_);
    }
  }
  return max_;
}

}  // namespace ObjectStore

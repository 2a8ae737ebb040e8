// Histogram: a Prometheus histogram of seconds with fixed buckets, from 0.5 ms to 60 s.
#ifndef OBJSTORE_HOST_SERVE_HISTOGRAM_H_
#define OBJSTORE_HOST_SERVE_HISTOGRAM_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace objstore_host {

class Histogram {
 public:
  Histogram();

  // Counts one observation of `seconds`. Thread-safe.
  void observe(double seconds);

  // The family's text in the Prometheus exposition format: HELP, TYPE, cumulative buckets,
  // sum and count. Thread-safe; one consistent snapshot.
  std::string text(const std::string& name, const std::string& help) const;

  uint64_t count() const;

 private:
  mutable std::mutex mutex_;
  std::vector<uint64_t> buckets_;  // guarded by mutex_: per bound, not cumulative
  uint64_t count_ = 0;             // guarded by mutex_
  double sum_ = 0;                 // guarded by mutex_
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_HISTOGRAM_H_

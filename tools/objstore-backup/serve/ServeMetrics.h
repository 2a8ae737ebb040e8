// ServeMetrics: the service's own figures, for /metrics (Prometheus text) and /status (JSON).
#ifndef OBJSTORE_HOST_SERVE_SERVEMETRICS_H_
#define OBJSTORE_HOST_SERVE_SERVEMETRICS_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "Histogram.h"

namespace objstore_host {

class ServeMetrics {
 public:
  // Counts one answered request. Thread-safe.
  void countRequest(const std::string& method, int code);

  std::atomic<uint64_t> receivedBytes{0};
  std::atomic<int64_t> objectsWaiting{0};  // in the cache, not yet committed
  std::atomic<uint64_t> jobsStarted{0};
  std::atomic<uint64_t> jobsEnded{0};
  std::atomic<uint64_t> resends{0};
  std::atomic<uint64_t> bodiesCut{0};  // PUTs whose client went away before the body was in
  Histogram putSeconds;
  Histogram putToCommitSeconds;

  // The families in the Prometheus exposition format. Thread-safe.
  std::string prometheusText() const;
  // The same figures as JSON. Thread-safe.
  nlohmann::json json() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, int>, uint64_t> requests_;  // guarded by mutex_
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_SERVEMETRICS_H_

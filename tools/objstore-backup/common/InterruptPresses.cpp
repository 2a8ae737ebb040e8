#include "InterruptPresses.h"

#include <time.h>

namespace objstore_host {

InterruptPresses::Press InterruptPresses::press(int64_t nowNanos) {
  int64_t first = kNone;
  if (first_.compare_exchange_strong(first, nowNanos)) return kFirst;
  return nowNanos - first < window_.load() ? kSameInstant : kAgain;
}

int64_t InterruptPresses::MonotonicNanos() {
  struct timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace objstore_host

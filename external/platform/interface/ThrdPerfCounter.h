// ThrdPerfCounter: timing counters keyed by label and counter id.
//
// Start and stop pair up per thread: a stop closes the start that the same thread made for the
// same label and id. For every label and id it keeps the count of completed intervals and their
// total, minimum and maximum elapsed time. All operations are thread-safe.
#ifndef OBJSTORE_PLATFORM_THRDPERFCOUNTER_H_
#define OBJSTORE_PLATFORM_THRDPERFCOUNTER_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

class ThrdPerfCounter {
 public:
  struct Figures {
    uint64_t count = 0;
    uint64_t totalNanos = 0;
    uint64_t minNanos = 0;
    uint64_t maxNanos = 0;
    uint64_t totalValue = 0;  // sum of the non-zero values given to stops
  };
  typedef std::map<std::pair<std::string, int>, Figures> Snapshot;

  ThrdPerfCounter() = default;

  bool enabled = false;    // set by the owner before counting starts
  bool logOnStop = false;  // log the label's figures after every stop

  void StartPerfCounter(const char* label, int id) {
    if (enabled) _StartPerfCounter(label, id);
  }
  void StopPerfCounter(const char* label, int id, uint64_t value) {
    if (!enabled) return;
    _StopPerfCounter(label, id, value);
    if (logOnStop) _LogPerfCounters(label, "For All The Files", -1);
  }

  void _StartPerfCounter(const char* label, int id);
  // Closes this thread's open interval for `label` and `id` (a stop without a start is ignored).
  // `value` is added to the figures' totalValue (a byte count, for example; most callers pass 0).
  void _StopPerfCounter(const char* label, int id, uint64_t value);
  // Writes one level-1 record per counter of `label`, prefixed by `text`. `id` -1: all ids.
  void _LogPerfCounters(const char* label, const char* text, int64_t id);

  // A copy of the figures, for printing.
  Snapshot snapshot() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  Snapshot figures_;
};

namespace ObjectStore {
// Process-wide switches, set by the host; the library only reads them.
extern bool g_object_store_enable_perf;
extern ThrdPerfCounter* g_object_store_counter;
}  // namespace ObjectStore

#endif  // OBJSTORE_PLATFORM_THRDPERFCOUNTER_H_

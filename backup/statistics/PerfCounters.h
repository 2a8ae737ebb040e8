// The catalogue of performance counters and the probes around an item's read and send.
// Internal to the library; the counter object itself is the host's (g_object_store_counter).
#ifndef OBJSTORE_BACKUP_PERFCOUNTERS_H_
#define OBJSTORE_BACKUP_PERFCOUNTERS_H_

#include <cstdint>

namespace ObjectStore {

struct PerfCounterInfo {
  int32_t id;
  const char* name;
  uint32_t value;
};

constexpr int kPerfCounterCount = 49;
extern const PerfCounterInfo PerfCounters[kPerfCounterCount];

constexpr int32_t kCounterReadForBackup = 30;    // "read_for_backup"
constexpr int32_t kCounterWriteToPipeline = 31;  // "write_to_pipeline"

// Start and stop a counter when measuring is switched on (g_object_store_enable_perf and the
// counter object's enabled flag). Take no lock of their own.
void OBJECT_STORE_START_PERF_COUNTER(const char* label, int32_t id);
void OBJECT_STORE_STOP_PERF_COUNTER(const char* label, int32_t id);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_PERFCOUNTERS_H_

// PerfProbe: switches the library's performance counters on for its lifetime, with a counter
// object of the host's, and reads back the figures of the library's two probes in sendItem:
// "read_for_backup" (reading the segment from the disk cache) and "write_to_pipeline" (sending
// its sections).
#ifndef OBJSTORE_HOST_PERFPROBE_H_
#define OBJSTORE_HOST_PERFPROBE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ThrdPerfCounter.h"

namespace objstore_host {

struct PerfFigure {
  std::string name;
  int id = 0;
  uint64_t count = 0;
  double totalMs = 0;
  double meanUs = 0;
  double minUs = 0;
  double maxUs = 0;
};

class PerfProbe {
 public:
  static constexpr const char* kLabel = "BackupInterface::sendItem";
  static constexpr int kReadForBackup = 30;
  static constexpr int kWriteToPipeline = 31;

  // Installs the counter as ObjectStore::g_object_store_counter and sets
  // g_object_store_enable_perf. Create it before the library's threads run.
  PerfProbe();
  // Switches the counters off again.
  ~PerfProbe();
  PerfProbe(const PerfProbe&) = delete;
  PerfProbe& operator=(const PerfProbe&) = delete;

  // The figures of both probes (zero counts when a probe never ran).
  std::vector<PerfFigure> figures() const;

 private:
  ThrdPerfCounter counter_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_PERFPROBE_H_

// Ingester: puts every object of a source tree into a disk cache, as the object store does with
// what NFS clients write: one segment per object, named by the object's GUID (see
// SegmentBuilder for the sections).
#ifndef OBJSTORE_HOST_INGESTER_H_
#define OBJSTORE_HOST_INGESTER_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "DirectoryDiskCache.h"
#include "Progress.h"
#include "SourceTree.h"
#include "WorkQueue.h"

namespace objstore_host {

struct IngestOptions {
  std::string sourceDir;
  std::string cacheDir;  // created when missing
  uint64_t extentSize = 1 << 20;
  unsigned threads = 2;
  bool sync = false;   // fsync every segment
  std::string faults;  // a fault plan for the disk cache ("diskFullAfter=<size>")
  // When set, no further entry is taken; the entries in progress are finished.
  const std::atomic<bool>* interrupt = nullptr;
};

struct IngestResult {
  uint64_t objects = 0;
  uint64_t files = 0;
  uint64_t symlinks = 0;
  uint64_t directories = 0;
  uint64_t bytes = 0;  // data bytes of the files
  double seconds = 0;
  // One line per entry that could not be ingested or was skipped, and for a cache that could
  // not be opened; empty after a complete ingest.
  std::vector<std::string> problems;

  bool ok() const { return problems.empty(); }
};

class Ingester {
 public:
  // `progress` (may be null) counts ingested objects and bytes.
  Ingester(const IngestOptions& options, ProgressCounters* progress);

  // Lists the tree, then writes the segments from `threads` threads. Thread-safe only against
  // other Ingesters on other caches.
  IngestResult run();

 private:
  void ingestQueued(ObjectStore::DirectoryDiskCache& cache);
  void ingestOne(ObjectStore::DirectoryDiskCache& cache, const SourceEntry& entry);
  void addProblem(const std::string& problem);

  const IngestOptions options_;
  ProgressCounters* progress_;
  WorkQueue<SourceEntry> queue_;
  std::mutex resultMutex_;
  IngestResult result_;  // guarded by resultMutex_ while threads run
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_INGESTER_H_

// Restorer: writes the objects of one backup job, or of every job of the store, back under a
// directory, each under its path, from its latest committed copy (LatestCopies chooses it): files
// with their data, mode and modification time, symbolic links with their target, empty directories.
// Restoring a tree that the host ingested gives a tree that `diff -r` finds equal to the source.
//
// It first finds each object's latest copy (reading headers and metadata only), then restores
// those copies, proving their data. Nothing is created when the store holds no run of the job.
// Existing files are never replaced unless asked for (RestoreTarget); a rerun after a killed
// restore removes the temporaries the killed one left and finds what it restored up to date.
#ifndef OBJSTORE_HOST_RESTORER_H_
#define OBJSTORE_HOST_RESTORER_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "LatestCopies.h"
#include "Progress.h"
#include "RestoreTarget.h"
#include "StoreWalker.h"

namespace objstore_host {

struct RestoreOptions {
  std::string storeDir;
  int64_t jobId = 1;
  bool allJobs = false;    // every job's copies, not only jobId's
  std::string targetDir;   // created when missing
  bool overwrite = false;  // replace existing files that differ
  // When set (by a signal handler, say), the restore stops after the object it is writing.
  const std::atomic<bool>* interrupt = nullptr;
};

struct RestoreResult {
  uint64_t objects = 0;  // distinct paths restored or found up to date
  uint64_t written = 0;
  uint64_t upToDate = 0;  // already held what the copy holds
  uint64_t bytes = 0;
  uint64_t superseded = 0;                      // earlier copies that a later one replaced
  std::vector<std::string> skipped;             // existing files left alone, with the reason
  std::vector<std::string> temporariesRemoved;  // left by a restore that was killed
  WalkStats walk;
  std::vector<std::string> problems;
  bool interrupted = false;  // stopped early; a rerun completes the tree
  double seconds = 0;

  bool ok() const {
    return problems.empty() && walk.problems.empty() && skipped.empty() && !interrupted;
  }
};

class Restorer {
 public:
  // `progress` (may be null) counts restored copies and bytes.
  Restorer(const RestoreOptions& options, ProgressCounters* progress);

  RestoreResult run();

 private:
  // Chooses each path's latest copy; false when there is nothing to restore.
  bool findLatestCopies();
  void restore(const StoredCopy& copy, const RestoreTarget& target);

  const RestoreOptions options_;
  ProgressCounters* progress_;
  LatestCopies latest_;
  RestoreResult result_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_RESTORER_H_

// Demo: the whole protocol on generated data, in a fresh workspace: generate a tree of objects,
// ingest it into a disk cache, back the cache up, restore the job and compare the restored
// tree with the source byte for byte.
//
// The workspace holds everything the run touches: source/, cache/, root/ (the library's root),
// store/ (the backup store), restore/, settings (the platform settings file) and objstore.log.
// The run points OBJSTORE_SETTINGS_FILE and the pipeline's store directory at it, so nothing
// outside is read or written. It is removed at the end unless it was named by the caller or the
// demo failed; an interrupted demo removes it too (unless named), as nothing in it is wanted.
#ifndef OBJSTORE_HOST_DEMO_H_
#define OBJSTORE_HOST_DEMO_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "BackupRun.h"
#include "DemoTree.h"
#include "HostLog.h"
#include "Ingester.h"
#include "Progress.h"
#include "Restorer.h"
#include "TreeCompare.h"

namespace objstore_host {

struct DemoOptions {
  std::string keepDir;  // the workspace to use and keep (must be empty); empty: a temporary one
  DemoTreeOptions tree;
  uint64_t extentSize = 1 << 20;
  uint32_t streams = 2;
  uint32_t threads = 2;
  uint32_t resendRounds = 3;
  bool logToWorkspace = true;  // false: the log stays where the caller sent it
  int logLevel = kDefaultLogLevel;
  // When set, the demo stops after the phase or the items in flight (BackupOptions::interrupt).
  const std::atomic<bool>* interrupt = nullptr;
  std::function<void()> afterSend;  // BackupOptions::afterSend of its backup
  std::string statsFile;            // BackupOptions::statsFile of its backup
  std::chrono::milliseconds statsInterval{5000};
};

struct DemoResult {
  std::string workspace;
  bool workspaceKept = false;
  DemoTreeStats tree;
  double generateSeconds = 0;
  int phasesStarted = 0;  // of ingest, backup and restore, in that order: the summary shows these
  IngestResult ingest;
  BackupResult backup;
  RestoreResult restore;
  bool compared = false;
  TreeComparison comparison;
  uint64_t segmentsLeft = 0;  // in the cache after the backup: committed objects are removed
  std::string error;          // the phase that failed and why
  bool interrupted = false;

  bool ok() const { return error.empty(); }
};

class Demo {
 public:
  // Progress of each phase goes to `progressOut` in `style`.
  Demo(const DemoOptions& options, ProgressStyle style, std::ostream& progressOut);

  // Runs every phase; stops at the first that fails. Changes the process's environment
  // (OBJSTORE_SETTINGS_FILE) and pipeline options; run one Demo at a time.
  DemoResult run();

 private:
  bool makeWorkspace();
  bool runPhases();
  BackupOptions backupOptions() const;
  bool runBackup(BackupRun& backup, ProgressCounters& progress);
  // Waits for the cleanup of the cache after the backup, and counts the segments left.
  void finishRemoval(BackupRun& backup);
  bool runRestore(ProgressCounters& progress);
  // True, with the error set, when an interrupt arrived.
  bool stopIfInterrupted(const std::string& phase);
  std::string path(const std::string& name) const { return result_.workspace + "/" + name; }

  const DemoOptions options_;
  const ProgressStyle style_;
  std::ostream& progressOut_;
  DemoResult result_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_DEMO_H_

// BackupRun: the host's side of one backup job, as the object-store server plays it.
//
//   initBackupInterace, getController, setCallBack, sendItem for every segment in the disk cache
//   (from several threads), resend what came back in failed lists, endBackup with waiting.
//
// The commit callback (CommitQueue) removes committed objects from the cache. When job
// directories of this application are left under the root by a run that died, a restart thread
// first resends what is still in the cache while the other threads wait in getController; the
// leftover directories are removed once the restart thread is done.
#ifndef OBJSTORE_HOST_BACKUPRUN_H_
#define OBJSTORE_HOST_BACKUPRUN_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "CommitQueue.h"
#include "DirectoryDiskCache.h"
#include "HostLog.h"
#include "JobInfo.h"
#include "LeftoverJobs.h"
#include "ObjStoreBackupInterface.h"
#include "Progress.h"
#include "ScopedInterrupt.h"
#include "WorkQueue.h"

namespace objstore_host {

class StatsSampler;

struct BackupOptions {
  std::string cacheDir;
  std::string rootBase;  // base of the library's root directory; required
  std::string storeDir;  // the backup store; empty: the pipeline's own choice
  int64_t jobId = 1;
  int32_t appId = 1;
  uint32_t streams = 2;
  uint32_t threads = 2;
  uint32_t resendRounds = 3;            // how often items of failed lists are sent again
  uint64_t highWatermark = UINT64_MAX;  // of the disk cache; UINT64_MAX: no limit
  bool waitForCommits = true;           // endBackup waits for outstanding commits
  // Threads removing committed segments from the cache. Removal is bound by the file system's
  // journal rather than by CPU, so more threads than CPUs still help.
  unsigned removeThreads = 8;
  // When set, run() returns once the job has ended, and the removal of committed segments goes
  // on until finishRemoval(), so that a caller can overlap it with other work.
  bool removalInBackground = false;
  // When set (by a signal handler, say), no further item is taken; the items in flight finish
  // and the job ends as usual, so what was sent is committed.
  const std::atomic<bool>* interrupt = nullptr;
  std::function<void()> afterSend;  // called after each sendItem, from the sending thread
  // The library's statistics: sampled every statsInterval into the progress counters and, when
  // statsFile is set, into that file (StatsSampler.h).
  std::string statsFile;
  std::chrono::milliseconds statsInterval{5000};
};

struct BackupResult {
  std::string rootDir;
  uint64_t items = 0;       // segments in the cache at the start
  bool jobStarted = false;  // false: nothing was sent, so there is no rate to tell
  uint64_t committed = 0;
  uint64_t bytesSent = 0;
  uint64_t sendFailures = 0;  // sendItem calls that failed
  uint64_t handedBack = 0;    // entries of failed lists, including the failed items themselves
  uint64_t resent = 0;        // items sent again in resend rounds
  uint32_t resendRoundsUsed = 0;
  bool interrupted = false;  // stopped taking items early; a rerun sends the rest
  bool restarted = false;
  uint64_t restartItems = 0;  // items the restart thread sent
  std::vector<std::string> leftoverDirsRemoved;
  std::vector<std::string> leftoverDirsKept;   // other applications' jobs
  std::vector<std::string> notCommitted;       // item names, sorted
  std::map<std::string, std::string> reasons;  // why an item of notCommitted failed
  std::vector<std::string> warnings;
  std::string error;           // a failure of the job as a whole
  std::string statisticsJson;  // the job's statistics once it ended (the library's JSON)
  double seconds = 0;
  double sendAndCommitSeconds = 0;   // from the first send until every job had ended
  double removalTailSeconds = 0;     // from then until the last committed segment was removed
  uint64_t removed = 0;              // committed segments removed from the cache
  bool removalInBackground = false;  // the removal went on while the caller did other work
  double endBackupSeconds = 0;
  double lastCommitToEndMs = -1;  // -1: no commit arrived

  bool ok() const { return error.empty() && notCommitted.empty() && !interrupted; }
};

class BackupRun {
 public:
  // `progress` (may be null) counts sent items and bytes, commits and failures.
  BackupRun(const BackupOptions& options, ProgressCounters* progress);

  // Waits for the removal of committed segments (if still going on).
  ~BackupRun();

  // Whether a job of this process could not be ended: the pipeline's threads for it still run,
  // so the process should leave without running static destructors under them.
  static bool JobLeftRunning();

  // Runs the job. Sets the pipeline's store directory for the process when the options name
  // one. Run one BackupRun at a time in a process.
  BackupResult run();

  // With removalInBackground: waits until every committed segment is removed, and returns the
  // result of run() completed with the removal's figures and problems. Otherwise, or when
  // called again, returns that result as it is.
  BackupResult finishRemoval();

 private:
  bool prepare();
  bool setUpRoot();
  void sendAll();
  uint64_t sendThread(bool isRestartThread);
  void adopt(const ObjectStore::BackupInterfacePtr& controller);
  uint64_t sendQueued(const ObjectStore::BackupInterfacePtr& controller);
  CUxError sendOne(ObjectStore::BackupInterface& controller, const std::string& item,
                   std::list<std::string>& failedList, int64_t* bytes,
                   ObjectStore::DiskCacheContext& context);
  void noteFailure(const std::string& item, const CUxError& error,
                   std::list<std::string>& failedList);
  std::vector<std::string> takeResendable();
  void resendFailed();
  // The jobs' final figures into the result and the statistics file.
  void finishStatistics(StatsSampler& sampler);
  void endJobs();
  void removeLeftovers();
  void account();
  void finishRemovers();  // joins the removers and adds their figures to result_
  bool interrupted() const { return IsInterrupted(options_.interrupt); }
  OBJECTOPSAPI::JobInfoPtr makeJobInfo() const;

  const BackupOptions options_;
  ProgressCounters* progress_;
  // Both live from run() until the removal has finished; the queue's removers use the cache.
  std::unique_ptr<ObjectStore::DirectoryDiskCache> cache_;
  std::unique_ptr<CommitQueue> commits_;
  std::chrono::steady_clock::time_point jobEnded_;
  std::unique_ptr<ScopedErrorTap> tap_;  // from run() until the removal has finished
  bool jobLeftRunning_ = false;          // endBackup failed: see JobLeftRunning
  static std::atomic<bool> gJobLeftRunning;
  std::vector<std::string> items_;
  std::vector<ObjectStore::LeftoverJob> leftovers_;
  std::vector<ObjectStore::ControllerStatistics>
      endedStatistics_;  // by endJobs  // this application's
  WorkQueue<std::string> queue_;

  std::mutex mutex_;  // guards what the sending threads share below
  std::vector<ObjectStore::BackupInterfacePtr> controllers_;
  std::set<std::string> failed_;
  std::map<std::string, std::string> lastError_;
  BackupResult result_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_BACKUPRUN_H_

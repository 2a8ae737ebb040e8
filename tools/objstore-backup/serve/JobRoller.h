// JobRoller: runs the service's backup jobs one after another. Objects queued by the PUT path
// are sent on the current job by `threads` sending threads; a job ends after `jobObjects`
// objects or `jobSeconds`, whichever comes first, and the next starts at once (the library runs
// one controller per application, so the jobs cannot overlap). No job runs while nothing is
// queued. What a job hands back is queued again for the next one.
//
// Commits arrive on the library's callback, under its stream registry lock: the callback only
// queues the names. A commit thread records them in the catalog and, once that is on disk,
// removes the segments from the cache and answers the PUTs waiting for them; so a segment never
// leaves the cache before the catalog says it was committed.
//
// When job directories of this application are left under the root (a process died), the first
// job is started as the restart job (RestartRegistration, getController's restart thread), and
// the directories are removed once it has ended.
#ifndef OBJSTORE_HOST_SERVE_JOBROLLER_H_
#define OBJSTORE_HOST_SERVE_JOBROLLER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Catalog.h"
#include "CommitWaiters.h"
#include "DirectoryDiskCache.h"
#include "LeftoverJobs.h"
#include "ObjStoreBackupInterface.h"
#include "ServeMetrics.h"

namespace objstore_host {

struct RollerOptions {
  int32_t appId = 1;
  uint32_t streams = 2;
  uint32_t threads = 2;
  uint32_t resendRounds = 3;  // hand-backs after which a waiting PUT is answered 503
  uint64_t jobObjects = 10000;
  std::chrono::milliseconds jobTime{10000};
  int64_t firstJobId = 1;  // job ids start at least here (above the store's and leftovers')
};

class JobRoller {
 public:
  // Everything given must outlive the roller. The library's root must be set up.
  JobRoller(const RollerOptions& options, ObjectStore::DirectoryDiskCache& cache, Catalog& catalog,
            ServeMetrics& metrics, CommitWaiters& waiters);
  // Stops, when stop() was not called.
  ~JobRoller();
  JobRoller(const JobRoller&) = delete;
  JobRoller& operator=(const JobRoller&) = delete;

  // Starts the rolling thread and the commit thread. `leftovers`: job directories of this
  // application found under the root before any job started.
  void start(const std::vector<ObjectStore::LeftoverJob>& leftovers);

  // Queues segment `id` for sending; `putStart` is when its PUT began (the epoch of the clock
  // for objects found in the cache). Thread-safe.
  void enqueue(const std::string& id, std::chrono::steady_clock::time_point putStart);

  // Stops taking objects from the queue, ends the job with its commit wait, and stops the
  // threads. What was not sent stays in the cache. Thread-safe; later calls do nothing.
  void stop();

  // Problems met (a job that could not start or end); for the summary. Thread-safe.
  std::vector<std::string> problems() const;
  // Jobs run so far and objects committed. Thread-safe.
  uint64_t jobsEnded() const { return jobsEnded_.load(); }
  uint64_t committed() const { return committed_.load(); }
  // Objects queued and not yet sent. Thread-safe.
  size_t queued() const;
  // The id of the job running now; 0 between jobs. Thread-safe.
  int64_t currentJob() const { return currentJob_.load(); }

  // The library's commit callback; the context is the roller.
  static void OnCommit(uint32_t aFileId, std::list<std::string> committedItems, void* context);

 private:
  struct Tracked {
    std::chrono::steady_clock::time_point putStart;
    int64_t job = 0;
    int stream = -1;
    uint32_t handBacks = 0;
  };

  void rollLoop();
  bool runJob(bool restart);
  ObjectStore::BackupInterfacePtr startJob(int64_t jobId, bool restart);
  void sendLoop(ObjectStore::BackupInterface& controller, int64_t jobId,
                std::chrono::steady_clock::time_point deadline);
  CUxError endJob(ObjectStore::BackupInterface& controller, int64_t jobId,
                  std::list<std::string>* failedList);
  bool takeNext(std::chrono::steady_clock::time_point deadline, std::string* id);
  void handBack(const std::list<std::string>& items, const std::string& reason);
  void commitLoop();
  void settleCommits(std::vector<std::string>& ids);
  void removeLeftovers(int64_t runningJob);
  void addProblem(const std::string& problem);

  const RollerOptions options_;
  ObjectStore::DirectoryDiskCache& cache_;
  Catalog& catalog_;
  ServeMetrics& metrics_;
  CommitWaiters& waiters_;
  std::vector<ObjectStore::LeftoverJob> leftovers_;

  mutable std::mutex mutex_;
  std::condition_variable queueChanged_;
  std::deque<std::string> queue_;                   // guarded by mutex_
  std::unordered_map<std::string, Tracked> known_;  // guarded by mutex_: queued or in a job
  uint64_t sentInJob_ = 0;                          // guarded by mutex_
  bool stopping_ = false;                           // guarded by mutex_
  std::vector<std::string> problems_;               // guarded by mutex_

  std::mutex commitMutex_;
  std::condition_variable commitsArrived_;
  std::vector<std::string> commits_;  // guarded by commitMutex_
  bool commitsStopping_ = false;      // guarded by commitMutex_

  std::atomic<int64_t> currentJob_{0};
  std::atomic<uint64_t> jobsEnded_{0};
  std::atomic<uint64_t> committed_{0};
  std::thread roller_;
  std::thread committer_;
  std::once_flag stopped_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_JOBROLLER_H_

// GroupSync: makes written files durable in batches. A thread that has written (and renamed)
// files calls waitDurable(); one syncer thread issues a single syncfs() of the file system for
// every caller that arrived while the previous one ran, then wakes them all. Concurrent PUTs
// thus share their syncs instead of paying one fsync each.
#ifndef OBJSTORE_HOST_SERVE_GROUPSYNC_H_
#define OBJSTORE_HOST_SERVE_GROUPSYNC_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace objstore_host {

class GroupSync {
 public:
  // Makes everything written to the file system of the open directory `fd` durable: 0 or an
  // errno value. syncfs() unless a test gives another.
  typedef std::function<int(int fd)> SyncCall;

  // Opens `dir` (any directory on the file system to sync) and starts the syncer thread.
  // Failure is reported by isOpen(); waitDurable then fails.
  explicit GroupSync(const std::string& dir, SyncCall sync = SyncCall());
  // Serves the callers still waiting, then stops the syncer.
  ~GroupSync();
  GroupSync(const GroupSync&) = delete;
  GroupSync& operator=(const GroupSync&) = delete;

  bool isOpen(std::string* error) const;

  // Blocks until everything the calling thread wrote before the call is on stable storage.
  // Returns 0, or the errno value of the failed sync. A failed sync is sticky: once the file
  // system has lost written data, no later write is reported durable. Thread-safe.
  int waitDurable();

  // Syncs issued and callers served so far; their ratio is the batching achieved.
  uint64_t syncs() const;
  uint64_t waiters() const;

 private:
  void syncLoop();

  int fd_ = -1;
  std::string openError_;
  SyncCall sync_;
  mutable std::mutex mutex_;
  std::condition_variable work_;  // the syncer waits for callers
  std::condition_variable done_;  // callers wait for their batch
  uint64_t requested_ = 0;        // guarded by mutex_: tickets handed out
  uint64_t synced_ = 0;           // guarded by mutex_: tickets up to this one are durable
  uint64_t syncs_ = 0;            // guarded by mutex_
  int error_ = 0;                 // guarded by mutex_: the first failed sync's errno
  bool stopping_ = false;         // guarded by mutex_
  std::thread syncer_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_GROUPSYNC_H_

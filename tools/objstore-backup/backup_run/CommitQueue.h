// CommitQueue: the host's commit callback and what follows from it.
//
// The library calls the callback on a pipeline thread while it holds its stream registry lock,
// which every sendItem and every other commit notification needs too. So the callback only
// records the names and queues them; threads of the host then remove the committed objects
// from the disk cache, so that the cache drains while the backup runs. Removal is slow on some
// disks (an unlink a millisecond), and several threads keep many in flight.
#ifndef OBJSTORE_HOST_COMMITQUEUE_H_
#define OBJSTORE_HOST_COMMITQUEUE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "DirectoryDiskCache.h"
#include "Progress.h"

namespace objstore_host {

class CommitQueue {
 public:
  // `progress` (may be null) counts committed objects.
  CommitQueue(ObjectStore::DirectoryDiskCache& cache, ProgressCounters* progress);
  // Finishes, when finish() was not called.
  ~CommitQueue();
  CommitQueue(const CommitQueue&) = delete;
  CommitQueue& operator=(const CommitQueue&) = delete;

  // The callback to give setCallBack, with the CommitQueue as its context.
  static void OnCommit(uint32_t aFileId, std::list<std::string> committedItems, void* context);

  // Starts `removers` threads that remove committed objects from the cache.
  void start(unsigned removers);
  // Waits until every object reported so far is removed, then stops the threads.
  void finish();

  // Thread-safe views.
  bool isCommitted(const std::string& item) const;
  size_t committedCount() const;
  // When the last notification arrived; the clock's epoch when none did.
  std::chrono::steady_clock::time_point lastNotification() const;
  // Objects that were committed but could not be removed from the cache.
  std::vector<std::string> removalProblems() const;
  // Objects removed from the cache so far.
  size_t removedCount() const;

 private:
  void record(std::list<std::string>& items);
  void removeLoop();

  ObjectStore::DirectoryDiskCache& cache_;
  ProgressCounters* progress_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::unordered_set<std::string> committed_;
  std::vector<std::string> toRemove_;
  std::vector<std::string> removalProblems_;
  std::chrono::steady_clock::time_point lastNotification_;
  size_t removed_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> removers_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_COMMITQUEUE_H_

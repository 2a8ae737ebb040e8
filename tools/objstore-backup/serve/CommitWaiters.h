// CommitWaiters: PUT requests that wait for their object's backup commit (?wait=committed).
// A waiter registers before its object is queued for sending, so that no outcome is missed;
// the job side reports outcomes by segment name.
#ifndef OBJSTORE_HOST_SERVE_COMMITWAITERS_H_
#define OBJSTORE_HOST_SERVE_COMMITWAITERS_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace objstore_host {

struct CommitOutcome {
  bool done = false;       // an outcome arrived
  bool committed = false;  // else `error` says why it was given up for now
  int64_t job = 0;
  int stream = -1;
  std::string error;
};

class CommitWaiters {
 public:
  // Registers a waiter for segment `id`; after failAll, its outcome is that failure at once.
  // Thread-safe.
  void add(const std::string& id);
  // Waits up to `timeout` for the outcome of `id` and unregisters it; an outcome with `done`
  // false when none came in time. Thread-safe; once per add.
  CommitOutcome wait(const std::string& id, std::chrono::milliseconds timeout);
  // Delivers `outcome` to the waiter of `id`, if any. Thread-safe, never blocks for long.
  void deliver(const std::string& id, const CommitOutcome& outcome);
  // Gives every waiter, and every one added later, `error`, as when the service stops.
  // Thread-safe.
  void failAll(const std::string& error);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::unordered_map<std::string, CommitOutcome> waiting_;  // guarded by mutex_
  bool closed_ = false;                                     // guarded by mutex_
  std::string closedError_;                                 // guarded by mutex_
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_COMMITWAITERS_H_

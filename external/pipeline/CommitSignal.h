// CommitSignal: how a job's senders, its controller and the tests reach the job's commit thread.
//
// The commit thread sleeps in waitUntil() until a sender wakes it (a stream became due or asked
// for a commit), a commit notification is posted, the job stops, or its next timed commit is
// due. Senders hold it only for a moment; the commit thread never holds it while it commits or
// calls out. Thread-safe.
#ifndef OBJSTORE_PIPELINE_COMMITSIGNAL_H_
#define OBJSTORE_PIPELINE_COMMITSIGNAL_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

namespace OBJECTOPSAPI {

class CommitSignal {
 public:
  typedef std::chrono::steady_clock Clock;
  typedef std::deque<std::pair<uint32_t, std::string>> PostedCommits;

  // What the commit thread has to do next.
  struct Work {
    PostedCommits posted;       // notifications to deliver, in the order posted
    bool stopping = false;      // the job is ending
    bool finalCommits = false;  // ... and wants every stream committed first
  };

  // Makes the commit thread look at its streams again.
  void wake();
  // Queues commitUpdate(aFileId, sequence) for the commit thread.
  void post(uint32_t aFileId, std::string sequence);
  // Asks the commit thread to stop, committing every stream first when `finalCommits`.
  void stop(bool finalCommits);
  bool stopRequested();

  // Takes what is to be done now (and clears the wake-up).
  Work take();
  // Sleeps until woken, posted to, stopped, or `deadline` (Clock::time_point::max(): no limit).
  void waitUntil(Clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool woken_ = false;
  bool stopping_ = false;
  bool finalCommits_ = false;
  PostedCommits posted_;
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_COMMITSIGNAL_H_

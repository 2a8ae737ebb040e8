#include "CommitWaiters.h"

namespace objstore_host {

void CommitWaiters::add(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  CommitOutcome& outcome = waiting_[id];
  outcome = CommitOutcome();
  if (closed_) {
    outcome.done = true;
    outcome.error = closedError_;
  }
}

CommitOutcome CommitWaiters::wait(const std::string& id, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [this, &id] {
    auto found = waiting_.find(id);
    return found == waiting_.end() || found->second.done;
  });
  CommitOutcome outcome;
  auto found = waiting_.find(id);
  if (found != waiting_.end()) {
    outcome = found->second;
    waiting_.erase(found);
  }
  return outcome;
}

void CommitWaiters::deliver(const std::string& id, const CommitOutcome& outcome) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = waiting_.find(id);
    if (found == waiting_.end() || found->second.done) return;
    found->second = outcome;
    found->second.done = true;
  }
  changed_.notify_all();
}

void CommitWaiters::failAll(const std::string& error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    closedError_ = error;
    for (auto& entry : waiting_) {
      if (entry.second.done) continue;
      entry.second.done = true;
      entry.second.error = error;
    }
  }
  changed_.notify_all();
}

}  // namespace objstore_host

#include "CommitSignal.h"

namespace OBJECTOPSAPI {

void CommitSignal::wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  changed_.notify_one();
}

void CommitSignal::post(uint32_t aFileId, std::string sequence) {
  std::lock_guard<std::mutex> lock(mutex_);
  posted_.emplace_back(aFileId, std::move(sequence));
  changed_.notify_one();
}

void CommitSignal::stop(bool finalCommits) {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  finalCommits_ = finalCommits;
  changed_.notify_one();
}

bool CommitSignal::stopRequested() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

CommitSignal::Work CommitSignal::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  Work work;
  work.posted.swap(posted_);
  work.stopping = stopping_;
  work.finalCommits = finalCommits_;
  woken_ = false;
  return work;
}

void CommitSignal::waitUntil(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [this] { return woken_ || stopping_ || !posted_.empty(); };
  if (deadline == Clock::time_point::max()) {
    changed_.wait(lock, ready);
  } else {
    changed_.wait_until(lock, deadline, ready);
  }
}

}  // namespace OBJECTOPSAPI

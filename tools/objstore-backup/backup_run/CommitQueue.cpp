#include "CommitQueue.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "ErrorText.h"

namespace objstore_host {

CommitQueue::CommitQueue(ObjectStore::DirectoryDiskCache& cache, ProgressCounters* progress)
    : cache_(cache), progress_(progress) {}

CommitQueue::~CommitQueue() {
  finish();
}

void CommitQueue::OnCommit(uint32_t /*aFileId*/, std::list<std::string> committedItems,
                           void* context) {
  static_cast<CommitQueue*>(context)->record(committedItems);
}

void CommitQueue::record(std::list<std::string>& items) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastNotification_ = std::chrono::steady_clock::now();
    for (std::string& item : items) {
      if (!committed_.insert(item).second) continue;  // a copy committed before
      toRemove_.push_back(std::move(item));
      if (progress_ != nullptr) ++progress_->committed;
    }
  }
  wake_.notify_one();
}

void CommitQueue::start(unsigned removers) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!removers_.empty()) return;
  stopping_ = false;
  for (unsigned i = 0; i < std::max(1u, removers); ++i) {
    removers_.emplace_back(&CommitQueue::removeLoop, this);
  }
}

void CommitQueue::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& remover : removers_) remover.join();
  removers_.clear();
}

void CommitQueue::removeLoop() {
  // Small batches, so that the threads share a large notification.
  const size_t kBatch = 64;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !toRemove_.empty(); });
    if (toRemove_.empty()) return;  // stopping, and everything reported is removed
    const size_t take = std::min(kBatch, toRemove_.size());
    std::vector<std::string> batch(std::make_move_iterator(toRemove_.end() - take),
                                   std::make_move_iterator(toRemove_.end()));
    toRemove_.resize(toRemove_.size() - take);
    if (!toRemove_.empty()) wake_.notify_one();
    lock.unlock();
    std::vector<std::string> problems;
    for (const std::string& item : batch) {
      CUxError error = cache_.removeSegment(item);
      if (error.IsError()) problems.push_back(item + ": " + ErrorText(error));
    }
    lock.lock();
    removed_ += batch.size() - problems.size();
    removalProblems_.insert(removalProblems_.end(), problems.begin(), problems.end());
  }
}

size_t CommitQueue::removedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return removed_;
}

bool CommitQueue::isCommitted(const std::string& item) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return committed_.count(item) != 0;
}

size_t CommitQueue::committedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return committed_.size();
}

std::chrono::steady_clock::time_point CommitQueue::lastNotification() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastNotification_;
}

std::vector<std::string> CommitQueue::removalProblems() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return removalProblems_;
}

}  // namespace objstore_host

#include "CommitQueue.h"

#include <cerrno>

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

void CommitQueue::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (remover_.joinable()) return;
  stopping_ = false;
  remover_ = std::thread(&CommitQueue::removeLoop, this);
}

void CommitQueue::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (remover_.joinable()) remover_.join();
}

void CommitQueue::removeLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !toRemove_.empty(); });
    if (toRemove_.empty()) return;  // stopping, and everything reported is removed
    std::vector<std::string> batch;
    batch.swap(toRemove_);
    lock.unlock();
    std::vector<std::string> problems;
    for (const std::string& item : batch) {
      CUxError error = cache_.removeSegment(item);
      if (error.IsError()) problems.push_back(item + ": " + ErrorText(error));
    }
    lock.lock();
    removalProblems_.insert(removalProblems_.end(), problems.begin(), problems.end());
  }
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

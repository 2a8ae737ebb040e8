#include "GroupSync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace objstore_host {

namespace {

int SyncFileSystem(int fd) {
  return syncfs(fd) == 0 ? 0 : errno;
}

}  // namespace

GroupSync::GroupSync(const std::string& dir, SyncCall sync)
    : sync_(sync ? std::move(sync) : SyncCall(&SyncFileSystem)) {
  fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) {
    openError_ = "cannot open [" + dir + "]: " + std::strerror(errno);
    return;
  }
  syncer_ = std::thread(&GroupSync::syncLoop, this);
}

GroupSync::~GroupSync() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  if (syncer_.joinable()) syncer_.join();
  if (fd_ >= 0) close(fd_);
}

bool GroupSync::isOpen(std::string* error) const {
  if (fd_ >= 0) return true;
  if (error != nullptr) *error = openError_;
  return false;
}

int GroupSync::waitDurable() {
  if (fd_ < 0) return EBADF;
  std::unique_lock<std::mutex> lock(mutex_);
  // The ticket is taken after the caller's writes: the sync that covers it starts later.
  const uint64_t ticket = ++requested_;
  work_.notify_one();
  done_.wait(lock, [this, ticket] { return synced_ >= ticket || error_ != 0; });
  return error_;
}

void GroupSync::syncLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stopping_ || requested_ > synced_; });
    if (requested_ == synced_) return;  // stopping, and nobody waits
    const uint64_t batchEnd = requested_;
    lock.unlock();
    const int result = sync_(fd_);
    lock.lock();
    ++syncs_;
    if (result != 0 && error_ == 0) error_ = result;
    synced_ = batchEnd;
    done_.notify_all();
  }
}

uint64_t GroupSync::syncs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return syncs_;
}

uint64_t GroupSync::waiters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

}  // namespace objstore_host

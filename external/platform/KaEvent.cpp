#include "KaEvent.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

struct KaEventH {
  explicit KaEventH(bool manual) : manualReset(manual) {}
  std::mutex mutex;
  std::condition_variable signalledCv;
  const bool manualReset;
  bool signalled = false;
};

KaEvent::KaEvent(bool manualReset) : handle_(new KaEventH(manualReset)) {}

KaEvent::~KaEvent() {
  delete handle_;
}

bool KaEvent::wait(long milliseconds) {
  std::unique_lock<std::mutex> lock(handle_->mutex);
  auto isSignalled = [this] { return handle_->signalled; };
  // Beyond about 30 years the deadline would overflow the clock; such a wait has no limit.
  const long kLongestTimedWait = 1000L * 1000 * 1000 * 1000;
  if (milliseconds < 0 || milliseconds > kLongestTimedWait) {
    handle_->signalledCv.wait(lock, isSignalled);
  } else {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    if (!handle_->signalledCv.wait_until(lock, deadline, isSignalled)) return false;
  }
  // An auto-reset event releases exactly one waiter per set().
  if (!handle_->manualReset) handle_->signalled = false;
  return true;
}

void KaEvent::set() {
  std::lock_guard<std::mutex> lock(handle_->mutex);
  handle_->signalled = true;
  if (handle_->manualReset) {
    handle_->signalledCv.notify_all();
  } else {
    handle_->signalledCv.notify_one();
  }
}

void KaEvent::reset() {
  std::lock_guard<std::mutex> lock(handle_->mutex);
  handle_->signalled = false;
}

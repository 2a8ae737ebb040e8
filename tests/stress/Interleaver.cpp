#include "Interleaver.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace stress {

namespace {

std::atomic<Interleaver*> gActive{nullptr};
// Times in a row the driver found a section held by the stopped helper and let it run: without
// a left() in between, the two hold what the other waits for.
thread_local int tBlockedRounds = 0;
const int kDeadlockRounds = 100000;

}  // namespace

Interleaver::Interleaver(std::function<void(Random&)> action, int percent, Random random)
    : action_(std::move(action)),
      percent_(percent),
      random_(random.fork()),
      helperRandom_(random.fork()),
      driver_(std::this_thread::get_id()) {
  hooks_.left = &Interleaver::OnLeft;
  hooks_.blocked = &Interleaver::OnBlocked;
  helper_ = std::thread([this] { helperLoop(); });
  gActive.store(this);
  KaCriticalSection::SetHooks(&hooks_);
}

Interleaver::~Interleaver() {
  close();
  KaCriticalSection::SetHooks(nullptr);
  gActive.store(nullptr);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = State::kQuit;
  }
  changed_.notify_all();
  helper_.join();
}

void Interleaver::open() {
  windowOpen_ = true;
}

void Interleaver::close() {
  windowOpen_ = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (state_ != State::kStopped) return;
    }
    handOver();
  }
}

void Interleaver::OnLeft() {
  Interleaver* active = gActive.load();
  if (active != nullptr && std::this_thread::get_id() == active->driver_) active->left();
}

bool Interleaver::OnBlocked() {
  Interleaver* active = gActive.load();
  return active != nullptr && active->blocked();
}

void Interleaver::left() {
  tBlockedRounds = 0;
  if (!windowOpen_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kIdle) {
      if (!random_.chance(percent_)) return;
      pending_ = true;
      ++actions_;
    } else if (state_ != State::kStopped) {
      return;
    }
  }
  handOver();
}

bool Interleaver::blocked() {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex_);
  if (self == driver_) {
    if (state_ != State::kStopped) return false;  // a thread of its own holds it
    if (++tBlockedRounds > kDeadlockRounds) {
      fprintf(stderr,
              "interleaver: the driver and the helper each wait for a section the other "
              "holds\n");
      abort();
    }
    lock.unlock();
    handOver();
    return true;
  }
  if (self != helper_.get_id()) return false;
  state_ = State::kStopped;
  changed_.notify_all();
  changed_.wait(lock, [this] { return state_ == State::kRunning || state_ == State::kQuit; });
  return state_ == State::kRunning;
}

void Interleaver::handOver() {
  std::unique_lock<std::mutex> lock(mutex_);
  state_ = State::kRunning;
  changed_.notify_all();
  changed_.wait(lock, [this] { return state_ != State::kRunning; });
}

void Interleaver::helperLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(
        lock, [this] { return state_ == State::kQuit || (state_ == State::kRunning && pending_); });
    if (state_ == State::kQuit) return;
    pending_ = false;
    lock.unlock();
    action_(helperRandom_);
    lock.lock();
    state_ = State::kIdle;
    changed_.notify_all();
  }
}

}  // namespace stress

#include "ScopedInterrupt.h"

#include <unistd.h>

#include <cstring>

#include "InterruptPresses.h"

namespace objstore_host {

namespace {

std::atomic<const char*> gNotice{nullptr};
InterruptPresses gPresses;

void OnSignal(int) {
  const InterruptPresses::Press press = gPresses.press(InterruptPresses::MonotonicNanos());
  if (press == InterruptPresses::kAgain) _exit(ScopedInterrupt::kExitStatus);
  if (press == InterruptPresses::kSameInstant) return;
  ScopedInterrupt::Flag() = true;
  const char* notice = gNotice.load();
  if (notice != nullptr && write(STDERR_FILENO, notice, strlen(notice)) < 0) {
    // Nothing to do about a standard error that cannot be written.
  }
}

}  // namespace

ScopedInterrupt::ScopedInterrupt(const char* notice) {
  Flag() = false;
  gPresses.reset();
  gNotice = notice;
  struct sigaction action = {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previousInt_);
  sigaction(SIGTERM, &action, &previousTerm_);
}

ScopedInterrupt::~ScopedInterrupt() {
  sigaction(SIGINT, &previousInt_, nullptr);
  sigaction(SIGTERM, &previousTerm_, nullptr);
  gNotice = nullptr;
}

void ScopedInterrupt::SetSameInstantWindow(int64_t nanoseconds) {
  gPresses.setWindow(nanoseconds);
}

std::atomic<bool>& ScopedInterrupt::Flag() {
  static std::atomic<bool> flag{false};
  return flag;
}

}  // namespace objstore_host

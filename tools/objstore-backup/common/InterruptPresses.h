// InterruptPresses: tells a second press of Ctrl-C from the same press delivered twice. A
// terminal sends SIGINT to the whole foreground process group, and tools such as `timeout` send
// it to the process and to its group, so one press may arrive as two signals within
// microseconds. Signals closer together than the window count as one press.
#ifndef OBJSTORE_HOST_INTERRUPTPRESSES_H_
#define OBJSTORE_HOST_INTERRUPTPRESSES_H_

#include <atomic>
#include <cstdint>

namespace objstore_host {

class InterruptPresses {
 public:
  static constexpr int64_t kDefaultWindowNanos = 100 * 1000 * 1000;  // far below a human's
                                                                     // second press
  enum Press { kFirst, kSameInstant, kAgain };

  explicit InterruptPresses(int64_t windowNanos = kDefaultWindowNanos) : window_(windowNanos) {}

  // What a signal at `nowNanos` (a monotonic clock) is: the first press, the first press
  // delivered again within the window after it, or a later, second press. Lock-free, so a
  // signal handler may call it.
  Press press(int64_t nowNanos);

  // Forgets every press; the window stays.
  void reset() { first_ = kNone; }
  void setWindow(int64_t windowNanos) { window_ = windowNanos; }

  // CLOCK_MONOTONIC in nanoseconds; async-signal-safe.
  static int64_t MonotonicNanos();

 private:
  static constexpr int64_t kNone = INT64_MIN;
  std::atomic<int64_t> first_{kNone};
  std::atomic<int64_t> window_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_INTERRUPTPRESSES_H_

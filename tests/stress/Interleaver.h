// Interleaver: the deterministic mode's second thread. While the driver thread is inside a
// library call that the harness opened for it (a send, an end), the critical-section hooks stop
// it now and then as it leaves a section and let a helper thread run an action in its place: a
// commit delivery or a statistics snapshot, as another thread of the host or the pipeline would.
// Only one of the two threads runs at a time: the driver waits until the helper has finished
// its action or found a section that the driver holds; the helper then waits until the driver
// leaves a section again (or blocks on one the helper holds). The seed therefore fixes the
// interleaving, and a race that needs a commit between two critical sections of one call is
// replayed exactly.
#ifndef OBJSTORE_TESTS_STRESS_INTERLEAVER_H_
#define OBJSTORE_TESTS_STRESS_INTERLEAVER_H_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "KaCriticalSection.h"
#include "Random.h"

namespace stress {

class Interleaver {
 public:
  // `action(random)` runs on the helper; `percent` is the chance to run it at each section the
  // driver leaves while a window is open. The calling thread is the driver. Installs the hooks.
  Interleaver(std::function<void(Random&)> action, int percent, Random random);
  // Lets a stopped action finish, stops the helper, and takes the hooks away.
  ~Interleaver();
  Interleaver(const Interleaver&) = delete;
  Interleaver& operator=(const Interleaver&) = delete;

  // Between open() and close() (on the driver), actions may run.
  void open();
  // Closes the window and lets a stopped action finish: the driver holds no section then.
  void close();
  uint64_t actions() const { return actions_; }

 private:
  enum class State { kIdle, kRunning, kStopped, kQuit };
  static void OnLeft();
  static bool OnBlocked();
  void left();
  bool blocked();
  // Lets the helper run until it has finished or stopped again. Driver only.
  void handOver();
  void helperLoop();

  const std::function<void(Random&)> action_;
  const int percent_;
  Random random_;        // the driver's choices
  Random helperRandom_;  // the actions' own, used on the helper while the driver waits
  const std::thread::id driver_;
  KaSectionHooks hooks_;
  bool windowOpen_ = false;  // driver only
  uint64_t actions_ = 0;     // driver only

  std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::kIdle;
  bool pending_ = false;  // an action for the helper to start
  std::thread helper_;
};

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_INTERLEAVER_H_

// Watchdog: a child process, forked while the harness is still single-threaded, that dumps every
// thread's stack (gdb) and kills the harness when a seed makes no progress for too long.
#ifndef OBJSTORE_TESTS_STRESS_WATCHDOG_H_
#define OBJSTORE_TESTS_STRESS_WATCHDOG_H_

#include <cstdint>
#include <string>

namespace stress {

class Watchdog {
 public:
  // Starts the watchdog; 0 seconds: none. `replay` is printed with the seed that hung.
  Watchdog(int hangSeconds, std::string replay);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // A seed starts: the watchdog's clock starts again.
  void beat(uint64_t seed);

 private:
  int pipe_ = -1;
  int pid_ = -1;
};

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_WATCHDOG_H_

// ScopedInterrupt: Ctrl-C and SIGTERM as a request to stop cleanly. While one lives, the first
// SIGINT or SIGTERM sets Flag() and writes the notice it was given to standard error; a second
// press ends the process at once with kExitStatus, without any cleanup. Signals that arrive
// together (one press sent to the process and to its group) count as one press
// (InterruptPresses). The handler only uses atomics, clock_gettime(), write() and _exit(), which
// are async-signal-safe.
#ifndef OBJSTORE_HOST_SCOPEDINTERRUPT_H_
#define OBJSTORE_HOST_SCOPEDINTERRUPT_H_

#include <signal.h>

#include <atomic>
#include <cstdint>

namespace objstore_host {

class ScopedInterrupt {
 public:
  static constexpr int kExitStatus = 130;  // as a shell reports a process ended by SIGINT

  // `notice` (a full line, may be null) must outlive the object.
  explicit ScopedInterrupt(const char* notice = nullptr);
  ~ScopedInterrupt();
  ScopedInterrupt(const ScopedInterrupt&) = delete;
  ScopedInterrupt& operator=(const ScopedInterrupt&) = delete;

  static std::atomic<bool>& Flag();

  // Signals closer together than this count as one press (tests widen or close it).
  static void SetSameInstantWindow(int64_t nanoseconds);

 private:
  struct sigaction previousInt_;
  struct sigaction previousTerm_;
};

// Whether an optional stop flag (a ScopedInterrupt's, say) is set; a null flag never is.
inline bool IsInterrupted(const std::atomic<bool>* flag) {
  return flag != nullptr && flag->load();
}

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SCOPEDINTERRUPT_H_

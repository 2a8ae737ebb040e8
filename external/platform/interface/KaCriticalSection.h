// KaCriticalSection: a recursive mutex.
//
// Recursive like a critical section: a thread that holds it may enter again (a host callback
// that re-enters the library on the same thread does not deadlock); it must leave as often as it
// entered.
//
// The mutex lives inside the object rather than in a separate allocation: the locks of one
// structure then share cache lines with the data they guard, which matters on the per-item paths
// where several threads take them in turn.
#ifndef OBJSTORE_PLATFORM_KACRITICALSECTION_H_
#define OBJSTORE_PLATFORM_KACRITICALSECTION_H_

#include <mutex>

#include "ThreadAnnotations.h"

class CAPABILITY("mutex") KaCriticalSection {
 public:
  KaCriticalSection() = default;
  KaCriticalSection(const KaCriticalSection&) = delete;
  KaCriticalSection& operator=(const KaCriticalSection&) = delete;

  // Blocks until the calling thread holds the section. `wait` is accepted for compatibility;
  // every caller passes true.
  void enter(bool /*wait*/ = true) ACQUIRE() {
    // The per-item locks are held for a microsecond or two. A thread that finds one taken tries
    // again for about as long before it sleeps: sleeping and being woken cost a system call on
    // each side and a cross-processor interrupt, more than the wait itself.
    for (int attempt = 0; attempt < kSpinAttempts; ++attempt) {
      if (mutex_.try_lock()) return;
      Pause();
    }
    mutex_.lock();
  }
  void leave() RELEASE() { mutex_.unlock(); }

 private:
  static constexpr int kSpinAttempts = 100;

  static void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }

  std::recursive_mutex mutex_;
};

#endif  // OBJSTORE_PLATFORM_KACRITICALSECTION_H_

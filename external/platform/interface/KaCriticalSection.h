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

#include <atomic>
#include <mutex>

#include "ThreadAnnotations.h"

// Hooks a test uses to run other threads at the points where a thread enters or leaves a section,
// one thread at a time, so that an interleaving it picks happens the same way every run. Both
// run on the thread concerned and must not enter a section themselves.
struct KaSectionHooks {
  // The thread has just left a section.
  void (*left)() = nullptr;
  // The thread found the section held by another thread. True: it tries again once the hook
  // returns (the hook has let the holder run); false: it waits for the section as usual.
  bool (*blocked)() = nullptr;
};

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
    if (mutex_.try_lock()) return;
    if (const KaSectionHooks* hooks = Hooks()) {
      while (hooks->blocked != nullptr && hooks->blocked()) {
        if (mutex_.try_lock()) return;
      }
    }
    for (int attempt = 0; attempt < kSpinAttempts; ++attempt) {
      if (mutex_.try_lock()) return;
      Pause();
    }
    mutex_.lock();
  }
  void leave() RELEASE() {
    mutex_.unlock();
    if (const KaSectionHooks* hooks = Hooks()) {
      if (hooks->left != nullptr) hooks->left();
    }
  }

  // Installs `hooks` (null: none, the default) for every section of the process. For tests:
  // install them while no other thread uses a section; `hooks` must outlive their use.
  static void SetHooks(const KaSectionHooks* hooks);
  static const KaSectionHooks* Hooks() { return hooks_.load(std::memory_order_acquire); }

 private:
  static constexpr int kSpinAttempts = 100;

  static void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }

  static std::atomic<const KaSectionHooks*> hooks_;

  std::recursive_mutex mutex_;
};

#endif  // OBJSTORE_PLATFORM_KACRITICALSECTION_H_

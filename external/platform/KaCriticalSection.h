// KaCriticalSection: a recursive mutex that owns one platform mutex object.
//
// Recursive like a critical section: a thread that holds it may enter again (a host callback
// that re-enters the library on the same thread does not deadlock); it must leave as often as it
// entered. Allocation of the platform object throws std::bad_alloc on failure.
#ifndef OBJSTORE_PLATFORM_KACRITICALSECTION_H_
#define OBJSTORE_PLATFORM_KACRITICALSECTION_H_

struct KaCriticalSectionH;  // the platform mutex object

class KaCriticalSection {
 public:
  KaCriticalSection();
  ~KaCriticalSection();
  KaCriticalSection(const KaCriticalSection&) = delete;
  KaCriticalSection& operator=(const KaCriticalSection&) = delete;

  // Blocks until the calling thread holds the section. `wait` is accepted for compatibility;
  // every caller passes true.
  void enter(bool wait = true);
  void leave();

 private:
  KaCriticalSectionH* handle_;
};

#endif  // OBJSTORE_PLATFORM_KACRITICALSECTION_H_

// KaCriticalSectionLock: scoped holder of a KaCriticalSection (which may be null).
#ifndef OBJSTORE_PLATFORM_KACRITICALSECTIONLOCK_H_
#define OBJSTORE_PLATFORM_KACRITICALSECTIONLOCK_H_

#include "KaCriticalSection.h"
#include "ThreadAnnotations.h"

class SCOPED_CAPABILITY KaCriticalSectionLock {
 public:
  // Enters `section` unless it is null.
  explicit KaCriticalSectionLock(KaCriticalSection* section) ACQUIRE(section) : section_(section) {
    if (section_ != nullptr) section_->enter(true);
  }
  ~KaCriticalSectionLock() RELEASE() {
    if (section_ != nullptr) section_->leave();
  }
  KaCriticalSectionLock(const KaCriticalSectionLock&) = delete;
  KaCriticalSectionLock& operator=(const KaCriticalSectionLock&) = delete;

  // Leaves the held section before the end of the scope.
  void release() RELEASE() {
    if (section_ != nullptr) section_->leave();
    section_ = nullptr;
  }

  // Leaves the held section and enters `other` (null just releases early). The lock analysis
  // cannot follow a change of section; code that it checks uses release() and a new scope.
  void resetCriticalSection(KaCriticalSection* other) NO_THREAD_SAFETY_ANALYSIS {
    if (section_ != nullptr) section_->leave();
    section_ = other;
    if (section_ != nullptr) section_->enter(true);
  }

 private:
  KaCriticalSection* section_;
};

#endif  // OBJSTORE_PLATFORM_KACRITICALSECTIONLOCK_H_

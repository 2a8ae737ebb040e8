// KaCriticalSectionLock: scoped holder of a KaCriticalSection (which may be null).
#ifndef OBJSTORE_PLATFORM_KACRITICALSECTIONLOCK_H_
#define OBJSTORE_PLATFORM_KACRITICALSECTIONLOCK_H_

#include "KaCriticalSection.h"

class KaCriticalSectionLock {
 public:
  // Enters `section` unless it is null.
  explicit KaCriticalSectionLock(KaCriticalSection* section) : section_(section) {
    if (section_ != nullptr) section_->enter(true);
  }
  ~KaCriticalSectionLock() {
    if (section_ != nullptr) section_->leave();
  }
  KaCriticalSectionLock(const KaCriticalSectionLock&) = delete;
  KaCriticalSectionLock& operator=(const KaCriticalSectionLock&) = delete;

  // Leaves the held section and enters `other` (null just releases early).
  void resetCriticalSection(KaCriticalSection* other) {
    if (section_ != nullptr) section_->leave();
    section_ = other;
    if (section_ != nullptr) section_->enter(true);
  }

 private:
  KaCriticalSection* section_;
};

#endif  // OBJSTORE_PLATFORM_KACRITICALSECTIONLOCK_H_

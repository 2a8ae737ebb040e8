#include "KaCriticalSection.h"

#include <mutex>

struct KaCriticalSectionH {
  std::recursive_mutex mutex;
};

KaCriticalSection::KaCriticalSection() : handle_(new KaCriticalSectionH) {}

KaCriticalSection::~KaCriticalSection() {
  delete handle_;
}

void KaCriticalSection::enter(bool /*wait*/) {
  handle_->mutex.lock();
}

void KaCriticalSection::leave() {
  handle_->mutex.unlock();
}

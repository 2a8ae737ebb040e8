#include "RestartRegistration.h"

#include "KaCriticalSectionLock.h"

namespace objstore_host {

RestartRegistration::RestartRegistration(int appId)
    : appId_(appId), event_(new ObjectStore::SyncEvent) {
  KaCriticalSectionLock lock(&ObjectStore::gThreadSyncLock);
  ObjectStore::gThreadSyncMap[appId_] = event_;
}

RestartRegistration::~RestartRegistration() {
  finish();
}

void RestartRegistration::finish() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (finished_) return;
  finished_ = true;
  {
    KaCriticalSectionLock lock(&ObjectStore::gThreadSyncLock);
    ObjectStore::gThreadSyncMap.erase(appId_);
  }
  // After the erase: a waiter woken now finds no entry and goes on.
  event_->event.set();
}

}  // namespace objstore_host

#include "RestartRegistration.h"

#include <map>
#include <utility>

#include "KaCriticalSectionLock.h"

namespace ObjectStore {

namespace {

// The registrations' own entries and how many registrations share each, by application. An
// entry found in gThreadSyncMap but not here was put there by hand.
struct SharedEntry {
  SyncEventPtr entry;
  int shares = 0;
};
typedef std::map<int, SharedEntry> SharedEntries;

SharedEntries& Registrations() REQUIRES(gThreadSyncLock) {
  static SharedEntries* registrations = new SharedEntries;  // never destroyed: no exit order
  return *registrations;
}

// Sets the event after gThreadSyncLock is released: a woken waiter takes it at once to look.
void Wake(const SyncEventPtr& entry) {
  if (entry) entry->event.set();
}

}  // namespace

RestartRegistration::RestartRegistration(int appId) : appId_(appId) {
  KaCriticalSectionLock lock(&gThreadSyncLock);
  SharedEntry& shared = Registrations()[appId_];
  if (shared.shares == 0) {
    shared.entry.reset(new SyncEvent);
    gThreadSyncMap[appId_] = shared.entry;
  }
  ++shared.shares;
  entry_ = shared.entry;
}

RestartRegistration::~RestartRegistration() {
  finish();
}

RestartRegistration::RestartRegistration(RestartRegistration&& other) noexcept
    : appId_(other.appId_) {
  KaCriticalSectionLock lock(&gThreadSyncLock);
  entry_.swap(other.entry_);
}

RestartRegistration& RestartRegistration::operator=(RestartRegistration&& other) noexcept {
  if (this == &other) return *this;
  SyncEventPtr toWake;
  {
    KaCriticalSectionLock lock(&gThreadSyncLock);
    dropShare(&toWake);
    appId_ = other.appId_;
    entry_.swap(other.entry_);
  }
  Wake(toWake);
  return *this;
}

void RestartRegistration::finish() {
  SyncEventPtr toWake;
  {
    KaCriticalSectionLock lock(&gThreadSyncLock);
    dropShare(&toWake);
  }
  Wake(toWake);
}

bool RestartRegistration::active() const {
  KaCriticalSectionLock lock(&gThreadSyncLock);
  return entry_ != nullptr;
}

void RestartRegistration::dropShare(SyncEventPtr* toWake) {
  if (!entry_) return;
  SyncEventPtr entry;
  entry.swap(entry_);
  SharedEntries& registrations = Registrations();
  SharedEntries::iterator shared = registrations.find(appId_);
  if (shared == registrations.end() || --shared->second.shares > 0) return;
  registrations.erase(shared);
  // The host may have erased or replaced the entry by hand meanwhile: leave its own alone.
  std::map<int, SyncEventPtr>::iterator it = gThreadSyncMap.find(appId_);
  if (it != gThreadSyncMap.end() && it->second == entry) gThreadSyncMap.erase(it);
  *toWake = entry;
}

}  // namespace ObjectStore

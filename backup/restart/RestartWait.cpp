#include "RestartWait.h"

#include <chrono>

#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "RestartRegistry.h"
#include "UxSleep.h"

namespace ObjectStore {

// The registry (RestartRegistry.h), beside the wait that reads it.
std::map<int, SyncEventPtr> gThreadSyncMap;
KaCriticalSection gThreadSyncLock;

namespace {

SyncEventPtr FindRestartEntry(uint32_t appId, bool* found) {
  KaCriticalSectionLock lock(&gThreadSyncLock);
  std::map<int, SyncEventPtr>::iterator it = gThreadSyncMap.find(static_cast<int>(appId));
  *found = it != gThreadSyncMap.end();
  return *found ? it->second : SyncEventPtr();
}

// One round of the wait. The host sets the entry's event when it erases the entry, which ends
// the round early. The event resets by hand: one set while the entry stays would end every later
// wait at once, so a round cut short with the entry still there sleeps out its remaining time.
void WaitOneRound(uint32_t appId, const SyncEventPtr& entry, long roundMs) {
  typedef std::chrono::steady_clock Clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(roundMs);
  if (entry) {
    if (!entry->event.wait(roundMs)) return;  // a whole round
    bool found = false;
    FindRestartEntry(appId, &found);
    if (!found) return;  // erased: look again at once
  }
  const long remainingMs = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
  if (remainingMs > 0) {
    UXSLEEP_InTeRnAl(static_cast<unsigned long>(remainingMs), __FILE__, __LINE__);
  }
}

}  // namespace

void WaitWhileRestarting(uint32_t appId, long roundMs) {
  for (;;) {
    bool found = false;
    // The copy keeps the entry's event alive while we wait, even after the host erased it.
    SyncEventPtr entry = FindRestartEntry(appId, &found);
    if (!found) {
      OBJSTORE_LOG(1,
                   "no restart thread is started or restart is done with sending pending items "
                   "for app ID [%u]",
                   appId);
      return;
    }
    OBJSTORE_LOG(1, "waiting for restart thread to finish pending items for app ID [%u]", appId);
    WaitOneRound(appId, entry, roundMs);
  }
}

}  // namespace ObjectStore

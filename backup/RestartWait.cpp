// The library's side of the restart protocol: controller requests wait while the host's restart
// thread resends an application's pending items.
#include "BackupTimings.h"
#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "ObjStoreBackupInterface.h"
#include "UxSleep.h"

namespace ObjectStore {

std::map<int, SyncEventPtr> gThreadSyncMap;
KaCriticalSection gThreadSyncLock;

namespace {

SyncEventPtr FindRestartEntry(uint32_t appId, bool* found) {
  KaCriticalSectionLock lock(&gThreadSyncLock);
  std::map<int, SyncEventPtr>::iterator it = gThreadSyncMap.find(static_cast<int>(appId));
  *found = it != gThreadSyncMap.end();
  return *found ? it->second : SyncEventPtr();
}

}  // namespace

void BackupInterface::waitForRestartThread(uint32_t appId, bool isRestartThread) {
  if (isRestartThread) {
    OBJSTORE_LOG(4, "This is restart thread. So return from waitforRestartThread function.");
    return;
  }
  const long waitMs = GetBackupTimings().restartWaitMs;
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
    if (entry) {
      entry->event.wait(waitMs);
    } else {
      UXSLEEP_InTeRnAl(static_cast<unsigned long>(waitMs), __FILE__, __LINE__);
    }
  }
}

}  // namespace ObjectStore

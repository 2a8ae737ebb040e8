// The restart registry: while the host's restart thread resends an application's pending items
// after a server restart, the host keeps an entry for that application in gThreadSyncMap, and
// every other request for the application's controller waits.
//
// The host's side is RestartRegistration (RestartRegistration.h), a scope that keeps the entry.
// The globals stay for hosts that edit them by hand: under gThreadSyncLock put a new SyncEvent
// under the application id before the restart thread calls getController (with isRestartThread
// true); when the pending items are sent, erase the entry under gThreadSyncLock and set its event
// to wake the waiters.
#ifndef OBJSTORE_BACKUP_RESTARTREGISTRY_H_
#define OBJSTORE_BACKUP_RESTARTREGISTRY_H_

#include <boost/shared_ptr.hpp>
#include <map>

#include "KaCriticalSection.h"
#include "KaEvent.h"
#include "ObjStoreExport.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

struct OBJSTORE_API SyncEvent {
  SyncEvent() : event(true) {}
  KaEvent event;  // manual reset: set() wakes every waiter at once
};
typedef boost::shared_ptr<SyncEvent> SyncEventPtr;

OBJSTORE_API extern KaCriticalSection gThreadSyncLock;
OBJSTORE_API extern std::map<int, SyncEventPtr> gThreadSyncMap GUARDED_BY(gThreadSyncLock);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_RESTARTREGISTRY_H_

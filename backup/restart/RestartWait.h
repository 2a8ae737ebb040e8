// The library's side of the restart protocol (RestartRegistry.h): controller requests wait while
// the host's restart thread resends an application's pending items. Internal to the library.
#ifndef OBJSTORE_BACKUP_RESTARTWAIT_H_
#define OBJSTORE_BACKUP_RESTARTWAIT_H_

#include <cstdint>

namespace ObjectStore {

// Blocks while gThreadSyncMap holds an entry for `appId`, looking again every `roundMs`
// milliseconds, or at once when the host erases the entry and sets its event.
void WaitWhileRestarting(uint32_t appId, long roundMs);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_RESTARTWAIT_H_

// The controller's waits and limits. Internal to the library: hosts never see them; tests
// shorten the waits so that timeout paths run in milliseconds. Change them only while no
// controller call is running.
#ifndef OBJSTORE_BACKUP_BACKUPTIMINGS_H_
#define OBJSTORE_BACKUP_BACKUPTIMINGS_H_

#include <cstdint>
#include <functional>

namespace ObjectStore {

struct BackupTimings {
  // At the end of a backup, one deadline in all: for the sends still running and then for every
  // stream's outstanding commits.
  long commitWaitMs = 60000;
  long cleanupPollMs = 5000;  // between checks of a stream cache's cleanup at the end
  long restartWaitMs = 1000;  // per wait on a restart entry's event
  uint64_t maxSectionBytes = UINT32_MAX;  // the pipeline takes 32-bit section lengths
  // Seconds since the epoch for the age of a stream's last forced commit; empty: the system
  // clock.
  std::function<int64_t()> clock;
};

BackupTimings& GetBackupTimings();

// The library's time in seconds since the epoch (the clock above).
int64_t BackupNow();

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_BACKUPTIMINGS_H_

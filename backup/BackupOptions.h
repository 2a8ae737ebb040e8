// BackupOptions: what a server may tune in the library, in one place.
//
// The options in force are the process's; each controller takes a copy when its job starts and
// keeps it to the end of the job, so that a change never reaches a job half way.
#ifndef OBJSTORE_BACKUP_BACKUPOPTIONS_H_
#define OBJSTORE_BACKUP_BACKUPOPTIONS_H_

#include <cstdint>
#include <functional>

#include "CUxError.h"
#include "ObjStoreExport.h"

namespace ObjectStore {

struct BackupOptions {
  // endBackup: one limit, in milliseconds, for the sends still running and then for every
  // stream's outstanding commits. 0: do not wait.
  long commitWaitMs = 60000;
  // getController: the round, in milliseconds, of its wait while a restart thread of the same
  // application is at work (a round ends early when the host sets the entry's event).
  long restartWaitMs = 1000;
  // Uncommitted items per stream at which sendItem forces a commit while the disk cache is
  // under space pressure. 0: the setting "Tarn" / "nMaxUncommittedExtents", else 1000.
  uint32_t maxUncommitted = 0;
  // Under space pressure a stream's commit is also due this many seconds after its last forced
  // commit.
  long forcedCommitIntervalSeconds = 30;
  // endBackup: the pause, in milliseconds, between checks of a stream cache's cleanup. Kept for
  // hosts that set it, and still range-checked; no stream has a cleanup in progress any more
  // (StreamInfo::isCleanupInProgres), so the wait it paces never runs.
  long cleanupPollMs = 5000;
  // The largest data or metadata section sendItem sends; larger ones fail with 5008. The
  // pipeline takes 32-bit lengths: lower it to try the refusal, never raise it.
  uint64_t maxSectionBytes = UINT32_MAX;
  // Seconds since the epoch, for the age of a stream's last forced commit; empty: the system
  // clock. For tests that must not wait for real time to pass.
  std::function<int64_t()> clock;
};

// Replaces the process's options, for the jobs that start from now on. Error EINVAL, naming the
// field and the accepted range, for a value out of range; the options in force then stay.
// Thread-safe.
OBJSTORE_API CUxError SetBackupOptions(const BackupOptions& options);

// A copy of the process's options. Thread-safe.
OBJSTORE_API BackupOptions GetBackupOptions();

// The clock of `options` (the system clock when it has none), in seconds since the epoch.
int64_t BackupNow(const BackupOptions& options);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_BACKUPOPTIONS_H_

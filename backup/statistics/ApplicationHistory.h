// ApplicationHistory: per application, the jobs the process has run for it: how many started and
// ended, which one is the latest, and how the last one to end finished. Kept for the life of the
// process (one small entry per application id), so that statistics can say what an application
// did between two scrapes even when no job of it is running.
#ifndef OBJSTORE_BACKUP_APPLICATIONHISTORY_H_
#define OBJSTORE_BACKUP_APPLICATIONHISTORY_H_

#include <boost/weak_ptr.hpp>
#include <cstdint>
#include <map>

#include "BackupStatistics.h"

namespace ObjectStore {

class BackupInterface;

struct ApplicationJobs {
  uint64_t jobsStarted = 0;
  uint64_t jobsEnded = 0;
  // The latest job started: its controller while the host keeps it, and what identifies it
  // once the host has let it go.
  boost::weak_ptr<BackupInterface> latest;
  int64_t latestJobId = 0;
  int64_t latestStartTime = 0;
  bool hasLastEndedJob = false;
  EndedJobStatistics lastEndedJob;
};

// Counts a job of `controller`'s application as started and makes it the latest. Thread-safe;
// its lock is taken alone (or innermost, under the controller registry's).
void NoteJobStarted(const boost::shared_ptr<BackupInterface>& controller, int32_t appId,
                    int64_t jobId, int64_t startTime);

// Counts the job `final` describes as ended, with endBackup's `result` (0: success), at the time
// now, and keeps it as its application's last ended job. Thread-safe, as above.
void NoteJobEnded(const ControllerStatistics& final, uint32_t result);

// A copy of every application's entry, by application id. Thread-safe, as above.
std::map<int32_t, ApplicationJobs> GetApplicationJobs();

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_APPLICATIONHISTORY_H_

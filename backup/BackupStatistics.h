// BackupStatistics: what the library is doing now, for a server to log, show or export.
//
// A snapshot is a copy: taking one holds each stream record's item lock only while its counters
// are copied, so senders and commits never wait for more than that. Within a stream the figures
// agree exactly (StreamStatistics.h); across streams a snapshot is a sequence of such copies,
// not one instant.
#ifndef OBJSTORE_BACKUP_BACKUPSTATISTICS_H_
#define OBJSTORE_BACKUP_BACKUPSTATISTICS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ObjStoreExport.h"
#include "StreamStatistics.h"

namespace ObjectStore {

// Where a controller's job is: running; its endBackup running; ended; or its pipeline stop
// failed (endBackup may be called again).
enum class JobState { kRunning, kEnding, kEnded, kEndFailed };

OBJSTORE_API const char* JobStateName(JobState state);  // "running", "ending", ...

struct ControllerStatistics {
  int64_t jobId = 0;
  int32_t appId = 0;
  JobState state = JobState::kRunning;
  int64_t startTime = 0;  // seconds since the epoch
  // The sums over `streams`; its commit latency is the streams' histograms merged, its last
  // commit the latest, its oldest uncommitted age the largest.
  StreamStatistics total;
  std::vector<StreamStatistics> streams;  // in the order of the job's streams
};

struct ProcessStatistics {
  int64_t takenAt = 0;  // seconds since the epoch
  // Every registered controller, by application id.
  std::vector<ControllerStatistics> controllers;
  // Every stream record still registered that belongs to none of them: streams of ended jobs
  // that still hold items, or of jobs whose end failed.
  std::vector<StreamStatistics> otherStreams;
};

// Adds the figures of `stream` to `total` (see ControllerStatistics::total).
OBJSTORE_API void AddStreamStatistics(const StreamStatistics& stream, StreamStatistics* total);

// A snapshot of the whole process. Thread-safe; takes the controller registry's lock and then
// the stream registry's, one after the other: do not call it from the commit callback (take a
// controller's own snapshot there).
OBJSTORE_API ProcessStatistics GetProcessStatistics();

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_BACKUPSTATISTICS_H_

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

// How a job ended: its figures when endBackup was done with it.
struct EndedJobStatistics {
  int64_t jobId = 0;
  int64_t startTime = 0;  // seconds since the epoch
  int64_t endTime = 0;    // seconds since the epoch
  uint32_t result = 0;    // endBackup's error code; 0: success
  StreamStatistics total;
};

// One application since the process started, across all of its jobs.
struct ApplicationStatistics {
  int32_t appId = 0;
  // Every counter (and the commit latency) summed over all the stream records the application
  // ever had, those of ended jobs included: they never decrease while the process lives.
  // `uncommitted` and the oldest uncommitted age are those of its records registered now (of
  // its running job, and of ended jobs whose last commits are still to come).
  StreamStatistics totals;
  // Items a record still held when a later job's record took over its stream id: neither
  // committed nor handed back. In every snapshot
  //   itemsRecorded == itemsCommitted + itemsHandedBack() + uncommitted + itemsAbandoned.
  uint64_t itemsAbandoned = 0;
  uint64_t jobsStarted = 0;
  uint64_t jobsEnded = 0;
  // Its latest job: the one running, else the last started. A job whose controller the host
  // let go of before its end completed shows as kEndFailed.
  bool hasJob = false;
  int64_t jobId = 0;
  JobState jobState = JobState::kRunning;
  int64_t jobStartTime = 0;  // seconds since the epoch
  bool hasLastEndedJob = false;
  EndedJobStatistics lastEndedJob;
};

struct ProcessStatistics {
  int64_t takenAt = 0;  // seconds since the epoch
  // Every registered controller, by application id.
  std::vector<ControllerStatistics> controllers;
  // Every stream record still registered that belongs to none of them: streams of ended jobs
  // that still hold items, or of jobs whose end failed.
  std::vector<StreamStatistics> otherStreams;
  // Every application the process has run a job for (or holds records of), by application id.
  std::vector<ApplicationStatistics> applications;
};

// A snapshot of the whole process. Thread-safe; takes the controller registry's lock, the
// stream registry's and the application history's, one after the other: do not call it from
// the commit callback (take a controller's own snapshot there). The application totals are read
// in one hold of the stream registry's lock; the per-job figures beside them are separate copies.
// Defined beside the controller (ProcessStatistics.cpp), whose registry it walks.
OBJSTORE_API ProcessStatistics GetProcessStatistics();

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_BACKUPSTATISTICS_H_

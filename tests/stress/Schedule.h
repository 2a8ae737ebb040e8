// Schedule: everything a seed decides about one run of the harness, made before the run starts,
// so that --describe can print it and a failure can be replayed from its seed alone.
#ifndef OBJSTORE_TESTS_STRESS_SCHEDULE_H_
#define OBJSTORE_TESTS_STRESS_SCHEDULE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "PipelineFaults.h"

namespace stress {

enum class Mode { kThreaded, kDeterministic };

struct FaultRule {
  OBJECTOPSAPI::PipelineFaults::Op op;
  uint64_t call;  // counted from 1 over the whole run
  bool andLater;
  bool throws;
};

struct JobPlan {
  int64_t jobId = 0;
  uint32_t streams = 1;
  int senders = 1;   // sending threads (always 1 in the deterministic mode)
  int newItems = 0;  // items of the job's own, besides the ones handed back earlier
  bool waitForCommits = true;
  // endBackup is called once this many sends have started, while the others still run; -1: after
  // every sender is done.
  int endAfterSends = -1;
  // The callback is replaced once this many sends have started (-1: never), by none when
  // `callbackToNone`, and set back this many sends later (-1: never).
  int callbackChangeAt = -1;
  bool callbackToNone = false;
  int callbackRestoreAfter = -1;
  // Every this many sends the callback changes again, replaced or removed and set back in turn
  // (0: never): commits then keep finding a callback that is about to go.
  int callbackFlipEvery = 0;
};

struct AppPlan {
  int32_t appId = 0;
  // Before its jobs, a child process runs one job of the application and dies mid-job after this
  // many sends; the application's first job is then the restart that resends what the child had
  // not seen committed. -1: no crash.
  int crashAfterSends = -1;
  uint32_t crashStreams = 1;
  std::vector<JobPlan> jobs;
};

struct Schedule {
  uint64_t seed = 0;
  Mode mode = Mode::kThreaded;
  std::vector<AppPlan> apps;

  // The pipeline.
  bool manualCommits = false;                               // the harness delivers every commit
  bool lateCommits = false;                                 // ... also after endBackup has returned
  uint64_t commitItems = 0, commitBytes = 0, commitMs = 0;  // its own commit thresholds
  uint32_t commitDelayMs = 0;
  uint32_t flowWindow = 0;
  std::vector<FaultRule> faults;
  // Deliveries made by the harness: the chance, in percent, that a call boundary delivers a
  // commit (deterministic mode), and that a delivery carries a stale number.
  int deliverPercent = 0;
  int oddNumberPercent = 0;
  // Deterministic mode: the chance, in percent, that a critical section the sender leaves
  // inside a send or an end lets a second thread deliver a commit or take a snapshot (0: none).
  int interleavePercent = 0;

  // The disk cache and the library's options.
  bool spacePressure = false;
  int clockStepSeconds = 0;  // the fast clock: seconds added at every reading
  uint32_t maxUncommitted = 0;
  long commitWaitMs = 0;
  int missingPercent = 0;     // sends of items the cache does not hold
  int unreadablePercent = 0;  // sends of items whose segment is damaged
  int resendPercent = 0;      // handed back items sent again (this job or the next)
  int bigPercent = 0;         // items with a section for the pipeline's direct path
};

// The schedule of `seed` in `mode`.
Schedule MakeSchedule(uint64_t seed, Mode mode);
// A readable account of the schedule, one line per setting and job.
std::string Describe(const Schedule& schedule);

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_SCHEDULE_H_

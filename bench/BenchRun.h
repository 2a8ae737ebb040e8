// BenchRun: what one backup of a workload measured, through the library or by the baseline.
#ifndef OBJSTORE_BENCH_BENCHRUN_H_
#define OBJSTORE_BENCH_BENCHRUN_H_

#include <cstdint>
#include <string>

#include "JobInfo.h"

namespace objstore_bench {

struct BenchRunOptions {
  std::string storeDir;  // a fresh backup store directory for this run
  uint32_t streams = 1;
  uint32_t threads = 1;
  int64_t jobId = 1;
};

struct BenchRun {
  double seconds = 0;  // from the first send to the end of the job (all data committed)
  uint64_t items = 0;
  uint64_t bytes = 0;
  uint64_t committed = 0;         // items the commit notifications covered
  double lastCommitToEndMs = -1;  // from the last commit notification to the job's end
  std::string error;

  double itemsPerSecond() const { return seconds > 0 ? items / seconds : 0; }
  double mibPerSecond() const { return seconds > 0 ? bytes / 1048576.0 / seconds : 0; }
};

// Points jobs started from now on at the run's store and returns the run's job description.
// Both sides of a comparison start their job from it, so they differ only in the library.
OBJECTOPSAPI::JobInfoPtr StartBenchJobDescription(const BenchRunOptions& options);

}  // namespace objstore_bench

#endif  // OBJSTORE_BENCH_BENCHRUN_H_

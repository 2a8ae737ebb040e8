#include "BenchRun.h"

#include "PipelineOptions.h"

namespace objstore_bench {

OBJECTOPSAPI::JobInfoPtr StartBenchJobDescription(const BenchRunOptions& options) {
  OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
  pipeline.storeDir = options.storeDir;
  OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  OBJECTOPSAPI::JobInfoPtr job(new OBJECTOPSAPI::JobInfo);
  job->numStreams = options.streams;
  job->jobId = options.jobId;
  job->appId = 1;
  job->text1 = "backup-bench";
  return job;
}

}  // namespace objstore_bench

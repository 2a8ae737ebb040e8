// JobInfo: the description of one backup job.
#ifndef OBJSTORE_PIPELINE_JOBINFO_H_
#define OBJSTORE_PIPELINE_JOBINFO_H_

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

#include "PipelineConfiurator.h"

namespace OBJECTOPSAPI {

class JobInfo {
 public:
  JobInfo() = default;
  // Copies every field except the three flags and the configurator, which take their defaults.
  JobInfo(const JobInfo& other);
  JobInfo& operator=(const JobInfo&) = default;
  virtual ~JobInfo() = default;

  uint32_t numStreams = 1;
  int32_t attr1 = 1;
  std::string text1;
  int64_t jobId = 0;
  int32_t attr2 = 1;
  int32_t appId = 0;
  int32_t attr3 = 2;
  int32_t attr4 = 0;
  int32_t attr5 = 0;
  std::string text2;
  std::string text3;
  std::string text4;
  int32_t attr6 = 0;
  int32_t attr7 = 101;
  bool enableCommitCallBack = false;
  bool flag2 = false;
  bool flag3 = false;
  PipelineConfiuratorPtr pipelineConfigurator;
};
typedef boost::shared_ptr<JobInfo> JobInfoPtr;

// How a job ended, as endBackup is told: 1 for every end but one, 2 when the start of the job
// obtained no stream handler. The names are this pipeline's; callers may pass the values.
enum KAJobStatus {
  KA_JOB_STATUS_COMPLETED = 1,
  KA_JOB_STATUS_FAILED_TO_START = 2,
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_JOBINFO_H_

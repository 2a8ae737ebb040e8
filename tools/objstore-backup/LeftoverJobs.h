// LeftoverJobs: the job directories an earlier run of the host left under the library's root.
//
// The library removes a job's directory at the end of the backup, so a directory that is still
// there when the host starts means that the run died before it ended its job: the objects it
// had not seen committed are still in the disk cache and must be sent again by a restart
// thread. One host process per root directory is assumed: a directory of a job that another
// live process runs would look the same.
#ifndef OBJSTORE_HOST_LEFTOVERJOBS_H_
#define OBJSTORE_HOST_LEFTOVERJOBS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace objstore_host {

struct LeftoverJob {
  std::string dir;
  int64_t jobId = 0;
  int32_t appId = 0;
};

class LeftoverJobs {
 public:
  // Every job directory under `rootDir` (a directory named by a decimal job id holding a
  // readable JOB_INFO), in name order. Directories that cannot be read as jobs are skipped
  // with a line in `problems`.
  static std::vector<LeftoverJob> Find(const std::string& rootDir,
                                       std::vector<std::string>* problems);

  // The application id in a JOB_INFO file (its fourth line: attributes, application, ...).
  static bool ReadAppId(const std::string& jobInfoPath, int32_t* appId);
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_LEFTOVERJOBS_H_

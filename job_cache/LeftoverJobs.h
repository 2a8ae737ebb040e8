// LeftoverJobs: the job directories that are still under a root directory.
//
// The library removes a job's directory when the job's backup ends, so a directory that is
// still there when a server starts means that an earlier process died before it ended its job:
// the objects it had not seen committed are still in the disk cache and must be sent again by a
// restart thread of the job's application. A directory of a job that this or another live
// process runs right now looks the same: list the leftovers before starting jobs, and run one
// server per root directory.
#ifndef OBJSTORE_JOB_CACHE_LEFTOVERJOBS_H_
#define OBJSTORE_JOB_CACHE_LEFTOVERJOBS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ObjStoreExport.h"

namespace ObjectStore {

struct LeftoverJob {
  int64_t jobId = 0;        // from the directory's name
  int32_t appId = 0;        // from JOB_INFO; 0 when `problem` is set
  uint32_t numStreams = 0;  // from JOB_INFO; 0 when `problem` is set
  std::string dir;          // the job directory: root + "/" + job id
  std::string problem;      // empty, or why JOB_INFO could not be read
};

class OBJSTORE_API LeftoverJobs {
 public:
  LeftoverJobs() = delete;

  // Every job directory under `rootDir`: a directory (not a link to one) named by a job id in
  // decimal, as the library names them, in the order of their job ids. Other entries are
  // skipped. A job directory whose JOB_INFO is missing, not a regular file, too large or
  // unreadable is listed with `problem` saying so. Reads only; safe from any thread, but a job
  // that starts or ends meanwhile may or may not be listed. An unreadable `rootDir` gives an
  // empty list and a log record.
  static std::vector<LeftoverJob> List(const std::string& rootDir);
  // The same under the library's root directory (initBackupInterace).
  static std::vector<LeftoverJob> List();
};

}  // namespace ObjectStore

#endif  // OBJSTORE_JOB_CACHE_LEFTOVERJOBS_H_

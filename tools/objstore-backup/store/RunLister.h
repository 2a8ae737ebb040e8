// RunLister: one line per run of a job found in a backup store, for the list command: how many
// items its streams hold, how many of them are committed, and how the run ended.
#ifndef OBJSTORE_HOST_RUNLISTER_H_
#define OBJSTORE_HOST_RUNLISTER_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "BackupStoreReader.h"

namespace objstore_host {

struct RunLine {
  int64_t jobId = 0;
  std::string runId;
  uint64_t items = 0;      // items in its streams' data files, committed or not
  uint64_t committed = 0;  // of them
  uint64_t damaged = 0;    // problems found reading it: damaged items, spans, counts, files
  std::string status;      // "ended", "ended with error", "not ended" or "damaged"
  int64_t time = 0;        // its end time when it ended, else its start time; epoch seconds
};

class RunLister {
 public:
  explicit RunLister(const std::string& storeDir);

  // The runs of job `jobId`, or of every job when `allJobs`, ordered by job and start time.
  // False, with the reason in `error`, when the store cannot be listed.
  bool list(int64_t jobId, bool allJobs, std::vector<RunLine>* lines, std::string* error) const;

  // "damaged" for a run whose files hold damage (as check finds it: every record is proven),
  // else "ended" for a run that ended as it should, "ended with error" for one that ended
  // otherwise (a failed start, a stream whose writes failed), "not ended" for one still running
  // or whose process died.
  static std::string StatusOf(const OBJECTOPSAPI::StoreRun& run, uint64_t damaged = 0);

  // `time` in local time as "YYYY-MM-DD HH:MM:SS".
  static std::string LocalTime(std::time_t time);

 private:
  static RunLine LineOf(const OBJECTOPSAPI::StoreRun& run);

  std::string storeDir_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_RUNLISTER_H_

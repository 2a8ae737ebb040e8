#include "RunLister.h"

#include "ErrorText.h"
#include "JobInfo.h"
#include "StoreStreamReader.h"

namespace objstore_host {

namespace {

// Items in a stream's data file; an unreadable one counts what could be read.
uint64_t CountItems(const OBJECTOPSAPI::StoreStreamInfo& stream) {
  OBJECTOPSAPI::StoreStreamReader reader;
  if (reader.open(stream).IsError()) return 0;
  OBJECTOPSAPI::StoreItem item;
  bool more = false;
  uint64_t items = 0;
  while (!reader.next(&item, &more, false).IsError() && more) ++items;
  return items;
}

}  // namespace

RunLister::RunLister(const std::string& storeDir) : storeDir_(storeDir) {}

bool RunLister::list(int64_t jobId, bool allJobs, std::vector<RunLine>* lines,
                     std::string* error) const {
  OBJECTOPSAPI::BackupStoreReader reader(storeDir_);
  std::vector<OBJECTOPSAPI::StoreRun> runs;
  const CUxError listed = allJobs ? reader.listRuns(&runs) : reader.listRunsOfJob(jobId, &runs);
  if (listed.IsError()) {
    *error = "cannot list the store [" + storeDir_ + "]: " + ErrorText(listed);
    return false;
  }
  lines->clear();
  for (const OBJECTOPSAPI::StoreRun& run : runs) lines->push_back(LineOf(run));
  return true;
}

RunLine RunLister::LineOf(const OBJECTOPSAPI::StoreRun& run) {
  RunLine line;
  line.jobId = run.manifest.jobId;
  line.runId = run.manifest.runId;
  for (const OBJECTOPSAPI::StoreStreamInfo& stream : run.streams) {
    line.items += CountItems(stream);
    line.committed += stream.committedCount;
  }
  line.status = StatusOf(run);
  line.time = run.manifest.ended ? run.manifest.endTime : run.manifest.startTime;
  return line;
}

std::string RunLister::StatusOf(const OBJECTOPSAPI::StoreRun& run) {
  if (!run.manifest.ended) return "not ended";
  bool broken = false;
  for (const OBJECTOPSAPI::StoreStreamEnd& end : run.manifest.streamEnds) broken |= end.broken;
  const bool completed = run.manifest.endStatus == OBJECTOPSAPI::KA_JOB_STATUS_COMPLETED;
  return completed && !broken && run.problems.empty() ? "ended" : "ended with error";
}

std::string RunLister::LocalTime(std::time_t time) {
  struct tm local = {};
  char text[32] = "";
  if (localtime_r(&time, &local) != nullptr) {
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  }
  return text;
}

}  // namespace objstore_host

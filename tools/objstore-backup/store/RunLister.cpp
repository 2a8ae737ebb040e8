#include "RunLister.h"

#include "ErrorText.h"
#include "JobInfo.h"
#include "StoreStreamReader.h"
#include "StoreWalker.h"

namespace objstore_host {

namespace {

// Adds the items of a stream's data file and its problems to `line`; an unreadable file counts
// what could be read. Data is proven too, and committed copies are read as check reads them (a
// hostile path is damage), so that list sees the damage check sees.
void CountItems(const OBJECTOPSAPI::StoreStreamInfo& stream, RunLine* line) {
  OBJECTOPSAPI::StoreStreamReader reader;
  CUxError error = reader.open(stream);
  OBJECTOPSAPI::StoreItem item;
  for (bool more = !error.IsError(); more;) {
    error = reader.next(&item, &more);
    if (error.IsError()) break;
    if (more) ++line->items;
    if (more && !item.damage.empty()) ++line->damaged;
    if (more && item.damage.empty() && item.committed && item.success) {
      StoredCopy copy;
      std::string ignored;
      if (!StoreWalker::ReadCopy(item, &copy, &ignored) && !copy.foreignMetadata) ++line->damaged;
    }
  }
  line->damaged += reader.problems().size() + (error.IsError() ? 1 : 0);
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
  line.damaged = run.problems.size();
  for (const OBJECTOPSAPI::StoreStreamInfo& stream : run.streams) {
    CountItems(stream, &line);
    line.committed += stream.committedCount;
  }
  line.status = StatusOf(run, line.damaged);
  line.time = run.manifest.ended ? run.manifest.endTime : run.manifest.startTime;
  return line;
}

std::string RunLister::StatusOf(const OBJECTOPSAPI::StoreRun& run, uint64_t damaged) {
  if (damaged != 0 || !run.problems.empty()) return "damaged";
  if (!run.manifest.ended) return "not ended";
  bool broken = false;
  for (const OBJECTOPSAPI::StoreStreamEnd& end : run.manifest.streamEnds) broken |= end.broken;
  const bool completed = run.manifest.endStatus == OBJECTOPSAPI::KA_JOB_STATUS_COMPLETED;
  return completed && !broken ? "ended" : "ended with error";
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

#include "BackupStoreReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "LogWriter.h"
#include "PipelineErrors.h"
#include "PipelineOptions.h"
#include "StoreFormat.h"
#include "StoreIo.h"

namespace OBJECTOPSAPI {

namespace {

// A missing committed file means nothing was committed yet.
CUxError ReadCommittedCount(const std::string& path, uint64_t* count) {
  *count = 0;
  if (::access(path.c_str(), F_OK) != 0) return CUxError();
  std::string text;
  CUxError error = StoreIo::ReadWholeFile(path, &text);
  if (error.IsError()) return error;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] == '-' || errno != 0 || *end != '\0') {
    return UX_ERROR(kPipelineBadStore, "[%s] does not hold a count: [%s]", path.c_str(),
                    text.c_str());
  }
  *count = value;
  return CUxError();
}

bool RunOrder(const StoreRun& a, const StoreRun& b) {
  if (a.manifest.jobId != b.manifest.jobId) return a.manifest.jobId < b.manifest.jobId;
  if (a.manifest.startTime != b.manifest.startTime) {
    return a.manifest.startTime < b.manifest.startTime;
  }
  return a.manifest.runId < b.manifest.runId;
}

}  // namespace

BackupStoreReader::BackupStoreReader(const std::string& storeDir)
    : storeDir_(storeDir.empty() ? PipelineOptions::Current().storeDir : storeDir) {
  if (storeDir_.empty()) storeDir_ = PipelineOptions::ResolveStoreDir();
}

CUxError BackupStoreReader::listRuns(std::vector<StoreRun>* runs) const {
  runs->clear();
  if (!StoreIo::IsDirectory(storeDir_)) return CUxError();
  std::vector<std::string> names;
  CUxError error = StoreIo::ListDirectory(storeDir_, &names);
  if (error.IsError()) return error;
  for (const std::string& name : names) {
    std::string dir = storeDir_ + "/" + name;
    if (!StoreIo::IsDirectory(dir)) continue;
    if (::access((dir + "/" + kStoreManifestName).c_str(), F_OK) != 0) {
      OBJSTORE_LOG(-1, "WARN: [%s] has no job manifest; skipped", dir.c_str());
      continue;
    }
    StoreRun run;
    error = ReadRun(dir, &run);
    if (error.IsError()) return error;
    runs->push_back(std::move(run));
  }
  std::sort(runs->begin(), runs->end(), RunOrder);
  return CUxError();
}

CUxError BackupStoreReader::listRunsOfJob(int64_t jobId, std::vector<StoreRun>* runs) const {
  CUxError error = listRuns(runs);
  if (error.IsError()) return error;
  runs->erase(std::remove_if(runs->begin(), runs->end(),
                             [jobId](const StoreRun& run) { return run.manifest.jobId != jobId; }),
              runs->end());
  return CUxError();
}

CUxError BackupStoreReader::ReadRun(const std::string& runDir, StoreRun* run) {
  *run = StoreRun();
  run->dir = runDir;
  CUxError error = run->manifest.readFrom(runDir);
  if (error.IsError()) return error;
  std::vector<std::string> names;
  error = StoreIo::ListDirectory(runDir, &names);
  if (error.IsError()) return error;
  for (const std::string& name : names) {
    StoreStreamInfo stream;
    if (!ParseStoreDataFileName(name, &stream.aFileId)) continue;
    stream.dataPath = runDir + "/" + name;
    error = ReadCommittedCount(runDir + "/" + StoreCommittedFileName(stream.aFileId),
                               &stream.committedCount);
    if (error.IsError()) return error;
    run->streams.push_back(stream);
  }
  std::sort(
      run->streams.begin(), run->streams.end(),
      [](const StoreStreamInfo& a, const StoreStreamInfo& b) { return a.aFileId < b.aFileId; });
  return CUxError();
}

}  // namespace OBJECTOPSAPI

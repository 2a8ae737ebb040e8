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
CUxError ReadCommittedCount(StoreStreamInfo* stream) {
  stream->hasCommittedFile = ::access(stream->committedPath.c_str(), F_OK) == 0;
  if (!stream->hasCommittedFile) return CUxError();
  std::string text;
  CUxError error = StoreIo::ReadWholeFile(stream->committedPath, &text, kStoreCommittedMaxBytes);
  if (error.IsError()) return error;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] < '0' || text[0] > '9' || errno != 0 || *end != '\0') {
    return UX_ERROR(kPipelineBadStore, "[%s] does not hold a count: [%.40s]",
                    stream->committedPath.c_str(), text.c_str());
  }
  stream->committedFileCount = value;
  return CUxError();
}

// Takes what the manifest of an ended run says about the stream.
void ApplyStreamEnd(const JobManifest& manifest, StoreStreamInfo* stream) {
  stream->runEnded = manifest.ended;
  stream->committedCount = stream->committedFileCount;
  for (const StoreStreamEnd& end : manifest.streamEnds) {
    if (end.aFileId != stream->aFileId) continue;
    stream->endRecorded = true;
    stream->end = end;
    stream->committedCount = end.committed;
  }
}

// Problems for committed files whose data file is missing.
void CheckCommittedFiles(const std::vector<std::string>& names, StoreRun* run) {
  const std::string suffix = ".committed";
  for (const std::string& name : names) {
    if (name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    const std::string dataName = name.substr(0, name.size() - suffix.size()) + ".data";
    uint32_t aFileId = 0;
    if (ParseStoreDataFileName(dataName, &aFileId) &&
        !std::binary_search(names.begin(), names.end(), dataName)) {
      run->problems.push_back("[" + run->dir + "/" + dataName + "] is missing, but [" + run->dir +
                              "/" + name + "] says items of it are committed");
    }
  }
}

// Problems for streams the manifest of an ended run lists but the run does not hold.
void CheckListedStreams(StoreRun* run) {
  for (const StoreStreamEnd& end : run->manifest.streamEnds) {
    bool found = false;
    for (const StoreStreamInfo& stream : run->streams)
      found = found || stream.aFileId == end.aFileId;
    if (!found && end.committed != 0) {
      run->problems.push_back("[" + run->dir + "/" + StoreDataFileName(end.aFileId) +
                              "] is missing: its run ended with " + std::to_string(end.committed) +
                              " items of it committed");
    }
  }
}

// A run directory without a manifest whose streams wrote data lost its manifest; one without
// data is a start that died before it wrote its manifest, or no run at all.
bool LostItsManifest(const std::string& dir) {
  int64_t jobId = 0;
  std::vector<std::string> names;
  const size_t slash = dir.find_last_of('/');
  if (!ParseStoreRunDirName(dir.substr(slash + 1), &jobId) ||
      StoreIo::ListDirectory(dir, &names).IsError()) {
    return false;
  }
  uint32_t aFileId = 0;
  for (const std::string& name : names) {
    if (ParseStoreDataFileName(name, &aFileId)) return true;
  }
  return false;
}

// A run directory copied or renamed under another name would pass as a run it is not.
void CheckRunName(StoreRun* run) {
  const size_t slash = run->dir.find_last_of('/');
  const std::string name = run->dir.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::string expected = std::to_string(run->manifest.jobId) + "." + run->manifest.runId;
  if (name != expected) {
    run->problems.push_back("[" + run->dir + "]: its manifest is that of run [" + expected +
                            "], not of a run named as its directory");
  }
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
    // A link in the store is not followed: it would make another directory's files look stored.
    if (!StoreIo::IsDirectoryNoFollow(dir)) continue;
    if (::access((dir + "/" + kStoreManifestName).c_str(), F_OK) != 0 && !LostItsManifest(dir)) {
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
  if (error.IsError()) {
    run->manifest = JobManifest();
    const size_t slash = runDir.find_last_of('/');
    // A lost manifest: the directory's name still holds the run's job and run ids.
    ParseStoreRunDirName(runDir.substr(slash == std::string::npos ? 0 : slash + 1),
                         &run->manifest.jobId, &run->manifest.runId);
    run->problems.push_back(error.GetMessage());
  } else {
    CheckRunName(run);
  }
  std::vector<std::string> names;
  error = StoreIo::ListDirectory(runDir, &names);
  if (error.IsError()) return error;
  for (const std::string& name : names) {
    StoreStreamInfo stream;
    if (!ParseStoreDataFileName(name, &stream.aFileId)) continue;
    stream.dataPath = runDir + "/" + name;
    stream.committedPath = runDir + "/" + StoreCommittedFileName(stream.aFileId);
    error = ReadCommittedCount(&stream);
    if (error.IsError()) run->problems.push_back(error.GetMessage());
    ApplyStreamEnd(run->manifest, &stream);
    run->streams.push_back(stream);
  }
  std::sort(
      run->streams.begin(), run->streams.end(),
      [](const StoreStreamInfo& a, const StoreStreamInfo& b) { return a.aFileId < b.aFileId; });
  if (run->manifest.ended) {
    CheckListedStreams(run);
  } else {
    CheckCommittedFiles(names, run);
  }
  return CUxError();
}

}  // namespace OBJECTOPSAPI

#include "CommitSampler.h"

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "StoreFormat.h"

namespace objstore_load {

namespace {

// The decimal count in `path`; false when the file cannot be read or holds no count.
bool ReadCount(const std::string& path, uint64_t* count) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "re"), &std::fclose);
  if (!file) return false;
  char text[40] = {};
  const size_t got = std::fread(text, 1, sizeof(text) - 1, file.get());
  if (got == 0) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text) return false;
  *count = value;
  return true;
}

}  // namespace

std::string CommitSampler::StreamKey(const std::string& runId, uint32_t aFileId) {
  return runId + "/" + std::to_string(aFileId);
}

std::map<std::string, uint64_t> CommitSampler::committedCounts(int64_t jobId) const {
  std::map<std::string, uint64_t> counts;
  std::unique_ptr<DIR, int (*)(DIR*)> store(opendir(storeDir_.c_str()), &closedir);
  if (!store) return counts;
  while (const dirent* run = readdir(store.get())) {
    int64_t runJob = 0;
    std::string runId;
    if (!OBJECTOPSAPI::ParseStoreRunDirName(run->d_name, &runJob, &runId) || runJob != jobId)
      continue;
    const std::string runDir = storeDir_ + "/" + run->d_name;
    std::unique_ptr<DIR, int (*)(DIR*)> files(opendir(runDir.c_str()), &closedir);
    if (!files) continue;
    while (const dirent* file = readdir(files.get())) {
      uint32_t aFileId = 0;
      uint64_t count = 0;
      if (OBJECTOPSAPI::ParseStoreDataFileName(file->d_name, &aFileId) &&
          ReadCount(runDir + "/" + OBJECTOPSAPI::StoreCommittedFileName(aFileId), &count))
        counts[StreamKey(runId, aFileId)] = count;
    }
  }
  return counts;
}

}  // namespace objstore_load

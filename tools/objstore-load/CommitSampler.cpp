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

std::map<std::string, uint64_t> CommitSampler::committedCounts(int64_t jobId,
                                                               uint32_t aFileId) const {
  std::map<std::string, uint64_t> counts;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(storeDir_.c_str()), &closedir);
  if (!dir) return counts;
  const std::string committedName = OBJECTOPSAPI::StoreCommittedFileName(aFileId);
  while (const dirent* entry = readdir(dir.get())) {
    int64_t runJob = 0;
    std::string runId;
    if (!OBJECTOPSAPI::ParseStoreRunDirName(entry->d_name, &runJob, &runId) || runJob != jobId)
      continue;
    uint64_t count = 0;
    if (ReadCount(storeDir_ + "/" + entry->d_name + "/" + committedName, &count))
      counts[runId] = count;
  }
  return counts;
}

}  // namespace objstore_load

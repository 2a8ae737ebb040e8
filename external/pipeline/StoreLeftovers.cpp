#include "StoreLeftovers.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "LogWriter.h"
#include "StoreFormat.h"
#include "StoreIo.h"

namespace OBJECTOPSAPI {

namespace {

const char kManifestTemporary[] = "MANIFEST.tmp";
const char kCommittedTemporarySuffix[] = ".committed.tmp";

bool IsRegularFileNoFollow(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The writer's process id from a run id "<micros>-<pid>-<n>"; 0 when it names none.
pid_t WriterOf(const std::string& runId) {
  const size_t first = runId.find('-');
  const size_t second = first == std::string::npos ? first : runId.find('-', first + 1);
  if (second == std::string::npos || second == first + 1) return 0;
  const std::string digits = runId.substr(first + 1, second - first - 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) return 0;
  return static_cast<pid_t>(std::strtol(digits.c_str(), nullptr, 10));
}

// A run whose writer may still be at work keeps its temporaries: they may be a write in flight.
// A run id that names no process is never touched either.
bool WriterIsGone(const std::string& runId) {
  const pid_t pid = WriterOf(runId);
  if (pid <= 0 || pid == ::getpid()) return false;
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// The leftovers of one run directory; `onlyLeftovers` says whether it holds nothing else.
void FindInRun(const std::string& runDir, std::vector<std::string>* paths, bool* onlyLeftovers) {
  std::vector<std::string> names;
  *onlyLeftovers = false;
  if (StoreIo::ListDirectory(runDir, &names).IsError()) return;
  bool other = false;
  size_t found = 0;
  for (const std::string& name : names) {
    const std::string path = runDir + "/" + name;
    if (StoreLeftovers::IsLeftoverName(name) && IsRegularFileNoFollow(path)) {
      paths->push_back(path);
      ++found;
    } else {
      other = true;
    }
  }
  *onlyLeftovers = found != 0 && !other;
}

}  // namespace

bool StoreLeftovers::IsLeftoverName(const std::string& name) {
  if (name == kManifestTemporary) return true;
  const size_t suffix = sizeof(kCommittedTemporarySuffix) - 1;
  if (name.size() <= suffix ||
      name.compare(name.size() - suffix, suffix, kCommittedTemporarySuffix) != 0) {
    return false;
  }
  uint32_t aFileId = 0;
  return ParseStoreDataFileName(name.substr(0, name.size() - suffix) + ".data", &aFileId);
}

CUxError StoreLeftovers::Find(const std::string& storeDir, std::vector<std::string>* paths) {
  paths->clear();
  if (!StoreIo::IsDirectoryNoFollow(storeDir)) return CUxError();
  std::vector<std::string> names;
  CUxError error = StoreIo::ListDirectory(storeDir, &names);
  if (error.IsError()) return error;
  for (const std::string& name : names) {
    int64_t jobId = 0;
    std::string runId;
    const std::string runDir = storeDir + "/" + name;
    if (!ParseStoreRunDirName(name, &jobId, &runId) || !StoreIo::IsDirectoryNoFollow(runDir) ||
        !WriterIsGone(runId)) {
      continue;
    }
    bool onlyLeftovers = false;
    FindInRun(runDir, paths, &onlyLeftovers);
    if (onlyLeftovers) paths->push_back(runDir);
  }
  return CUxError();
}

CUxError StoreLeftovers::Remove(const std::string& storeDir, std::vector<std::string>* removed) {
  removed->clear();
  std::vector<std::string> paths;
  CUxError error = Find(storeDir, &paths);
  if (error.IsError()) return error;
  for (const std::string& path : paths) {
    // Files first (Find names a directory after its files); rmdir removes only an empty one.
    const bool gone =
        IsRegularFileNoFollow(path) ? ::unlink(path.c_str()) == 0 : ::rmdir(path.c_str()) == 0;
    if (gone) {
      removed->push_back(path);
    } else {
      OBJSTORE_LOG(-1, "WARN: cannot remove the leftover [%s]: %s", path.c_str(),
                   std::strerror(errno));
    }
  }
  return CUxError();
}

}  // namespace OBJECTOPSAPI

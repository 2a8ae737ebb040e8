#include "LeftoverJobs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "LogWriter.h"
#include "ObjectStoreJobInfo.h"
#include "ObjectStoreStatic.h"

namespace ObjectStore {

namespace {

// A name the library gives a job directory: a job id as std::to_string writes it.
bool ParseJobId(const std::string& name, int64_t* jobId) {
  int64_t value = 0;
  const char* end = name.data() + name.size();
  std::from_chars_result result = std::from_chars(name.data(), end, value);
  if (name.empty() || result.ec != std::errc() || result.ptr != end) return false;
  if (std::to_string(value) != name) return false;  // no "+1", "007" or "-0"
  *jobId = value;
  return true;
}

bool IsDirectoryItself(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The job directories under `rootDir`, not yet read.
std::vector<LeftoverJob> JobDirectories(const std::string& rootDir) {
  std::vector<LeftoverJob> jobs;
  DIR* handle = opendir(rootDir.c_str());
  if (handle == nullptr) {
    OBJSTORE_LOG(-1, "ERROR: cannot list the root directory [%s]: %s", rootDir.c_str(),
                 strerror(errno));
    return jobs;
  }
  while (struct dirent* entry = readdir(handle)) {
    LeftoverJob job;
    job.dir = rootDir + "/" + entry->d_name;
    if (ParseJobId(entry->d_name, &job.jobId) && IsDirectoryItself(job.dir)) jobs.push_back(job);
  }
  closedir(handle);
  std::sort(jobs.begin(), jobs.end(),
            [](const LeftoverJob& a, const LeftoverJob& b) { return a.jobId < b.jobId; });
  return jobs;
}

void ReadJobFile(LeftoverJob* job) {
  ObjStoreJobInfo info{OBJECTOPSAPI::JobInfo()};
  info.loadInfoFromDisk(job->dir, &job->problem);
  if (!job->problem.empty()) return;
  job->appId = info.appId;
  job->numStreams = info.numStreams;
}

}  // namespace

std::vector<LeftoverJob> LeftoverJobs::List(const std::string& rootDir) {
  std::vector<LeftoverJob> jobs = JobDirectories(rootDir);
  for (LeftoverJob& job : jobs) ReadJobFile(&job);
  return jobs;
}

std::vector<LeftoverJob> LeftoverJobs::List() {
  return List(ObjectStoreStatic::rootDir);
}

}  // namespace ObjectStore

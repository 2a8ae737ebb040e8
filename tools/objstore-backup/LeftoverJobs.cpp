#include "LeftoverJobs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace objstore_host {

namespace {

const size_t kJobInfoReadLimit = 64 << 10;

bool ParseJobId(const std::string& name, int64_t* jobId) {
  if (name.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(name.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || std::to_string(value) != name) return false;
  *jobId = value;
  return true;
}

std::vector<std::string> SortedNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) return names;
  while (struct dirent* entry = readdir(handle)) names.push_back(entry->d_name);
  closedir(handle);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::vector<LeftoverJob> LeftoverJobs::Find(const std::string& rootDir,
                                            std::vector<std::string>* problems) {
  std::vector<LeftoverJob> jobs;
  for (const std::string& name : SortedNames(rootDir)) {
    LeftoverJob job;
    job.dir = rootDir + "/" + name;
    struct stat status;
    if (!ParseJobId(name, &job.jobId) || stat(job.dir.c_str(), &status) != 0 ||
        !S_ISDIR(status.st_mode)) {
      continue;
    }
    if (!ReadAppId(job.dir + "/JOB_INFO", &job.appId)) {
      problems->push_back("job directory [" + job.dir + "] has no readable JOB_INFO");
      continue;
    }
    jobs.push_back(job);
  }
  return jobs;
}

bool LeftoverJobs::ReadAppId(const std::string& jobInfoPath, int32_t* appId) {
  // A JOB_INFO is a few short lines; a larger file (or a device) is not one.
  std::ifstream file(jobInfoPath);
  std::string head(kJobInfoReadLimit, '\0');
  file.read(&head[0], static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(file.gcount()));
  std::istringstream in(head);
  std::string line;
  for (int i = 0; i < 4; ++i) {
    if (!std::getline(in, line)) return false;
  }
  std::istringstream fields(line);
  long long attribute = 0;
  long long app = 0;
  if (!(fields >> attribute >> app)) return false;
  *appId = static_cast<int32_t>(app);
  return true;
}

}  // namespace objstore_host

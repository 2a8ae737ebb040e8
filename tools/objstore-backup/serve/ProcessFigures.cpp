#include "ProcessFigures.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "KaCriticalSectionLock.h"
#include "ObjStoreBackupInterface.h"
#include "ObjectStoreStreamInfo.h"

namespace objstore_host {

namespace {

uint64_t CountEntries(const char* dir) {
  DIR* listing = opendir(dir);
  if (listing == nullptr) return 0;
  uint64_t count = 0;
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(listing);
  return count > 0 ? count - 1 : 0;  // the listing's own descriptor
}

}  // namespace

ProcessFigures ProcessFigures::Now() {
  ProcessFigures figures;
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  uint64_t resident = 0;
  if (statm >> pages >> resident) {
    figures.rssBytes = resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  }
  figures.openFds = CountEntries("/proc/self/fd");
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 8, "Threads:") == 0) figures.threads = std::stoull(line.substr(8));
  }
  {
    KaCriticalSectionLock lock(&ObjectStore::gObjectCreationLock);
    figures.controllers = ObjectStore::gObjToAppIdMap.size();
  }
  {
    KaCriticalSectionLock lock(&ObjectStore::gStreamLock);
    figures.streamsRegistered = ObjectStore::gStreams.size();
  }
  return figures;
}

}  // namespace objstore_host

#include "DirectoryDiskCache.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ByteSize.h"
#include "LogWriter.h"
#include "OpenSegmentMap.h"
#include "SegmentFile.h"

namespace ObjectStore {

namespace {

const std::string kSegmentSuffix = ".seg";
// Temporary files start with '.', so no segment name can collide with one.
const std::string kTemporaryPrefix = ".tmp-";

// Why `name` cannot name a segment, or null when it can.
const char* NameProblem(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > MAX_SEGMENT_NAME_LENGTH) return "the name is too long";
  if (name[0] == '.') return "the name starts with '.'";
  if (name.find('/') != std::string::npos) return "the name contains '/'";
  if (name.find('\0') != std::string::npos) return "the name contains a NUL character";
  return nullptr;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The segment name of directory entry `file`, or "" when the entry is no segment file.
std::string SegmentNameOf(const std::string& file) {
  if (file.size() <= kSegmentSuffix.size() ||
      file.compare(file.size() - kSegmentSuffix.size(), std::string::npos, kSegmentSuffix) != 0)
    return "";
  std::string name = file.substr(0, file.size() - kSegmentSuffix.size());
  return NameProblem(name) == nullptr ? name : "";
}

// Closes a directory stream on every path out of a function.
class ScopedDir {
 public:
  explicit ScopedDir(const std::string& path) : dir_(::opendir(path.c_str())) {}
  ~ScopedDir() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  ScopedDir(const ScopedDir&) = delete;
  ScopedDir& operator=(const ScopedDir&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

}  // namespace

DirectoryDiskCache::DirectoryDiskCache(const std::string& dir)
    : dir_(dir), openSegments_(new OpenSegmentMap) {
  applyFaultsFromEnvironment();
  int error = CreateDirectories(dir_);
  if (error != 0) {
    openErrno_ = error;
    openError_ = "cannot create directory [" + dir_ + "]: " + std::strerror(error);
  } else {
    scanDirectory();
  }
  if (openErrno_ != 0) {
    OBJSTORE_LOG(-1, "ERROR: disk cache not opened: %s", openError_.c_str());
    return;
  }
  OBJSTORE_LOG(1, "INFO: disk cache [%s] opened with %zu segments of %llu bytes", dir_.c_str(),
               segmentBytes_.size(), static_cast<unsigned long long>(usedBytes_.load()));
}

DirectoryDiskCache::~DirectoryDiskCache() {
  const size_t open = openSegments_->size();
  if (open != 0) {
    OBJSTORE_LOG(-1, "ERROR: disk cache [%s] destroyed while %zu segments are open", dir_.c_str(),
                 open);
  }
}

OpenSegmentInfo* DirectoryDiskCache::openSegment(const std::string& name) {
  return openSegments_->open(name);
}

void DirectoryDiskCache::closeSegment(OpenSegmentInfo* info) {
  openSegments_->close(info);
}

size_t DirectoryDiskCache::openSegmentCount() const {
  return openSegments_->size();
}

// Runs in the constructor, before any other thread can see the cache.
void DirectoryDiskCache::scanDirectory() {
  ScopedDir dir(dir_);
  if (dir.get() == nullptr) {
    openErrno_ = errno;
    openError_ = "cannot read directory [" + dir_ + "]: " + std::strerror(openErrno_);
    return;
  }
  while (const struct dirent* entry = ::readdir(dir.get())) {
    std::string file = entry->d_name;
    if (StartsWith(file, kTemporaryPrefix)) {
      // Left by a writer that stopped before its rename: the segment it held never existed.
      if (::unlinkat(::dirfd(dir.get()), file.c_str(), 0) == 0)
        OBJSTORE_LOG(3, "INFO: removed stale temporary file [%s/%s]", dir_.c_str(), file.c_str());
      continue;
    }
    std::string name = SegmentNameOf(file);
    struct stat info;
    if (name.empty() ||
        ::fstatat(::dirfd(dir.get()), file.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode))
      continue;
    segmentBytes_[name] = static_cast<uint64_t>(info.st_size);
    usedBytes_ += static_cast<uint64_t>(info.st_size);
  }
}

bool DirectoryDiskCache::isOpen(std::string* error) const {
  if (error != nullptr) *error = openError_;
  return openErrno_ == 0;
}

std::string DirectoryDiskCache::segmentPath(const std::string& name) const {
  return dir_ + "/" + name + kSegmentSuffix;
}

CUxError DirectoryDiskCache::checkUsable(const std::string& name) const {
  if (openErrno_ != 0)
    return UX_ERROR(openErrno_, "disk cache is not open: %s", openError_.c_str());
  if (const char* problem = NameProblem(name))
    return UX_ERROR(EINVAL, "invalid segment name [%.*s]: %s",
                    static_cast<int>(std::min<size_t>(name.size(), MAX_SEGMENT_NAME_LENGTH)),
                    name.c_str(), problem);
  return CUxError();
}

CUxError DirectoryDiskCache::readError(const std::string& name, int error) const {
  if (error == ENOENT)
    return UX_ERROR(ENOENT, "segment [%s] not found in disk cache [%s]", name.c_str(),
                    dir_.c_str());
  return UX_ERROR(error, "cannot read segment [%s] in disk cache [%s]: %s", name.c_str(),
                  dir_.c_str(), std::strerror(error));
}

CUxError DirectoryDiskCache::readAllSections(const DiskCacheContext& /*context*/,
                                             const std::string& name,
                                             std::vector<SectionV>& sections) {
  CUxError error = checkUsable(name);
  if (error.IsError()) return error;
  std::string problem;
  int readErrno = ReadSegmentFile(segmentPath(name), &sections, &problem);
  if (readErrno == EBADMSG && !problem.empty()) {
    OBJSTORE_LOG(-1, "ERROR: segment [%s] in disk cache [%s] is corrupt: %s", name.c_str(),
                 dir_.c_str(), problem.c_str());
    return UX_ERROR(EBADMSG, "segment [%s] in disk cache [%s] is corrupt: %s", name.c_str(),
                    dir_.c_str(), problem.c_str());
  }
  if (readErrno != 0) return readError(name, readErrno);
  OBJSTORE_LOG(5, "INFO: read segment [%s]", name.c_str());
  return error;
}

CUxError DirectoryDiskCache::writeSegment(const std::string& name,
                                          const std::vector<SectionV>& sections, bool sync) {
  CUxError error = checkUsable(name);
  if (error.IsError()) return error;
  if (sections.size() > UINT32_MAX)
    return UX_ERROR(EINVAL, "segment [%s] has too many sections (%zu)", name.c_str(),
                    sections.size());
  std::string tmpPath;
  uint64_t size = 0;
  int writeErrno = WriteSegmentFile(dir_, kTemporaryPrefix + name + "-", sections, sync,
                                    &writeBudget_, &tmpPath, &size);
  if (writeErrno != 0)
    return UX_ERROR(writeErrno, "cannot write segment [%s] in disk cache [%s]: %s", name.c_str(),
                    dir_.c_str(), std::strerror(writeErrno));
  error = installSegment(name, tmpPath, size);
  if (error.IsError()) return error;
  int syncErrno = sync ? SyncDirectory(dir_) : 0;
  if (syncErrno != 0)
    return UX_ERROR(syncErrno, "segment [%s] stored but disk cache [%s] not synced: %s",
                    name.c_str(), dir_.c_str(), std::strerror(syncErrno));
  OBJSTORE_LOG(3, "INFO: stored segment [%s]: %zu sections, %llu bytes", name.c_str(),
               sections.size(), static_cast<unsigned long long>(size));
  return error;
}

// Renames the written temporary file over the segment and moves the used bytes by the
// difference, as one step for concurrent writers and removers of the same name.
CUxError DirectoryDiskCache::installSegment(const std::string& name, const std::string& tmpPath,
                                            uint64_t size) {
  std::lock_guard<std::mutex> lock(storeMutex_);
  if (::rename(tmpPath.c_str(), segmentPath(name).c_str()) != 0) {
    int renameErrno = errno;
    ::unlink(tmpPath.c_str());
    return UX_ERROR(renameErrno, "cannot store segment [%s] in disk cache [%s]: %s", name.c_str(),
                    dir_.c_str(), std::strerror(renameErrno));
  }
  uint64_t& accounted = segmentBytes_[name];
  usedBytes_.store(usedBytes_.load() - accounted + size);
  accounted = size;
  return CUxError();
}

CUxError DirectoryDiskCache::removeSegment(const std::string& name) {
  CUxError error = checkUsable(name);
  if (error.IsError()) return error;
  std::lock_guard<std::mutex> lock(storeMutex_);
  if (::unlink(segmentPath(name).c_str()) != 0) {
    int removeErrno = errno;
    if (removeErrno == ENOENT)
      return UX_ERROR(ENOENT, "segment [%s] not found in disk cache [%s]", name.c_str(),
                      dir_.c_str());
    return UX_ERROR(removeErrno, "cannot remove segment [%s] from disk cache [%s]: %s",
                    name.c_str(), dir_.c_str(), std::strerror(removeErrno));
  }
  auto accounted = segmentBytes_.find(name);
  if (accounted != segmentBytes_.end()) {
    usedBytes_.store(usedBytes_.load() - accounted->second);
    segmentBytes_.erase(accounted);
  }
  OBJSTORE_LOG(4, "INFO: removed segment [%s]", name.c_str());
  return error;
}

std::vector<std::string> DirectoryDiskCache::listSegments() const {
  std::vector<std::string> names;
  ScopedDir dir(dir_);
  if (dir.get() == nullptr) return names;
  while (const struct dirent* entry = ::readdir(dir.get())) {
    std::string name = SegmentNameOf(entry->d_name);
    if (!name.empty()) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool DirectoryDiskCache::hasSegment(const std::string& name) const {
  struct stat info;
  return NameProblem(name) == nullptr && ::stat(segmentPath(name).c_str(), &info) == 0 &&
         S_ISREG(info.st_mode);
}

bool DirectoryDiskCache::ParseFaults(const std::string& spec, uint64_t* diskFullAfter,
                                     std::string* why) {
  const std::string prefix = "diskFullAfter=";
  if (spec.compare(0, prefix.size(), prefix) != 0) {
    *why = "the disk cache knows one fault, diskFullAfter=<size>";
    return false;
  }
  if (!ParseByteSize(spec.substr(prefix.size()), diskFullAfter)) {
    *why = "the size is not a number of bytes, KiB, MiB or GiB, e.g. 4096 or 2MiB";
    return false;
  }
  return true;
}

void DirectoryDiskCache::applyFaultsFromEnvironment() {
  const char* spec = std::getenv("OBJSTORE_DISKCACHE_FAULTS");
  if (spec == nullptr || *spec == '\0') return;
  uint64_t limit = 0;
  std::string why;
  if (!ParseFaults(spec, &limit, &why)) {
    OBJSTORE_LOG(-1, "ERROR: ignoring OBJSTORE_DISKCACHE_FAULTS [%s]: %s", spec, why.c_str());
    return;
  }
  writeBudget_.setLimit(limit);
}

void DirectoryDiskCache::setHighWatermark(uint64_t bytes) {
  highWatermark_.store(bytes);
}

uint64_t DirectoryDiskCache::highWatermark() const {
  return highWatermark_.load();
}

uint64_t DirectoryDiskCache::usedBytes() const {
  return usedBytes_.load();
}

}  // namespace ObjectStore

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
#include "Crc32c.h"
#include "LogWriter.h"
#include "OpenSegmentMap.h"
#include "SegmentFile.h"

namespace ObjectStore {

namespace {

const std::string kSegmentSuffix = ".seg";
// Segment files are spread over 256 subdirectories named by two hex digits of a checksum of the
// segment's name, so that a cache of a million objects holds no directory of a million entries.
const size_t kShardNameLength = 2;
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

// The subdirectory that holds segment `name`.
std::string ShardOf(const std::string& name) {
  static const char kDigits[] = "0123456789abcdef";
  const uint32_t hash = Crc32c(name.data(), name.size());
  return std::string{kDigits[(hash >> 4) & 0xf], kDigits[hash & 0xf]};
}

size_t ShardIndex(const std::string& shard) {
  return static_cast<size_t>(std::stoul(shard, nullptr, 16));
}

bool IsShardName(const std::string& file) {
  return file.size() == kShardNameLength &&
         file.find_first_not_of("0123456789abcdef") == std::string::npos;
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

// The size of the file at `path`, or 0 when there is none.
uint64_t FileSize(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

void AppendSegmentNames(const std::string& path, std::vector<std::string>* names) {
  ScopedDir dir(path);
  if (dir.get() == nullptr) return;
  while (const struct dirent* entry = ::readdir(dir.get())) {
    std::string name = SegmentNameOf(entry->d_name);
    if (!name.empty()) names->push_back(name);
  }
}

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
               scannedSegments_, static_cast<unsigned long long>(usedBytes_.load()));
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

// Runs in the constructor, before any other thread can see the cache. A cache written before
// segments were sharded holds them in the directory itself; they are still read, and move into
// their shards when they are written again.
void DirectoryDiskCache::scanDirectory() {
  std::vector<std::string> flat;
  if (!scanEntries(dir_, true, &flat)) return;
  for (const std::string& name : flat) {
    // A crash between storing the sharded copy and removing the flat one leaves both.
    struct stat sharded;
    if (::lstat(segmentFile(name).c_str(), &sharded) == 0) {
      ::unlink(flatPath(name).c_str());
      continue;
    }
    flatNames_.insert(name);
    countSegment(flatPath(name));
  }
  flatCount_ = flatNames_.size();
}

// Removes the temporary files of `path` and accounts its segments; in the cache's top directory
// (`top`) it also scans the shards and collects the flat segments in `flat`.
bool DirectoryDiskCache::scanEntries(const std::string& path, bool top,
                                     std::vector<std::string>* flat) {
  ScopedDir dir(path);
  if (dir.get() == nullptr) {
    if (!top) return true;  // a shard that vanished holds nothing
    openErrno_ = errno;
    openError_ = "cannot read directory [" + path + "]: " + std::strerror(openErrno_);
    return false;
  }
  while (const struct dirent* entry = ::readdir(dir.get())) {
    std::string file = entry->d_name;
    if (StartsWith(file, kTemporaryPrefix)) {
      // Left by a writer that stopped before its rename: the segment it held never existed.
      if (::unlinkat(::dirfd(dir.get()), file.c_str(), 0) == 0)
        OBJSTORE_LOG(3, "INFO: removed stale temporary file [%s/%s]", path.c_str(), file.c_str());
      continue;
    }
    if (top && IsShardName(file)) {
      shardMade_[ShardIndex(file)] = true;
      if (!scanEntries(path + "/" + file, false, flat)) return false;
      continue;
    }
    std::string name = SegmentNameOf(file);
    if (name.empty()) continue;
    if (top) {
      flat->push_back(name);
    } else {
      countSegment(path + "/" + file);
    }
  }
  return true;
}

void DirectoryDiskCache::countSegment(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  ++scannedSegments_;
  usedBytes_ += static_cast<uint64_t>(info.st_size);
}

bool DirectoryDiskCache::isOpen(std::string* error) const {
  if (error != nullptr) *error = openError_;
  return openErrno_ == 0;
}

std::string DirectoryDiskCache::segmentFile(const std::string& name) const {
  return dir_ + "/" + ShardOf(name) + "/" + name + kSegmentSuffix;
}

std::string DirectoryDiskCache::flatPath(const std::string& name) const {
  return dir_ + "/" + name + kSegmentSuffix;
}

bool DirectoryDiskCache::mayBeFlat(const std::string& name) const {
  if (flatCount_.load(std::memory_order_relaxed) == 0) return false;
  std::lock_guard<std::mutex> lock(flatMutex_);
  return flatNames_.count(name) != 0;
}

int DirectoryDiskCache::makeShard(const std::string& shard, bool sync) {
  const size_t index = ShardIndex(shard);
  if (shardMade_[index].load(std::memory_order_acquire)) return 0;
  if (::mkdir((dir_ + "/" + shard).c_str(), 0755) != 0 && errno != EEXIST) return errno;
  // A synced write needs the shard's own entry on disk too.
  const int syncErrno = sync ? SyncDirectory(dir_) : 0;
  if (syncErrno == 0) shardMade_[index].store(true, std::memory_order_release);
  return syncErrno;
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
  int readErrno = ReadSegmentFile(segmentFile(name), &sections, &problem);
  if (readErrno == ENOENT && mayBeFlat(name)) {
    readErrno = ReadSegmentFile(flatPath(name), &sections, &problem);
  }
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
  const std::string shard = ShardOf(name);
  int writeErrno = makeShard(shard, sync);
  if (writeErrno == 0) {
    writeErrno = WriteSegmentFile(dir_ + "/" + shard, kTemporaryPrefix + name + "-", sections, sync,
                                  &writeBudget_, &tmpPath, &size);
  }
  if (writeErrno != 0)
    return UX_ERROR(writeErrno, "cannot write segment [%s] in disk cache [%s]: %s", name.c_str(),
                    dir_.c_str(), std::strerror(writeErrno));
  error = installSegment(name, tmpPath, size);
  if (error.IsError()) return error;
  int syncErrno = sync ? SyncDirectory(dir_ + "/" + shard) : 0;
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
  const std::string path = segmentFile(name);
  {
    std::lock_guard<std::mutex> lock(nameLock(name));
    const uint64_t replaced = FileSize(path);
    if (::rename(tmpPath.c_str(), path.c_str()) != 0) {
      int renameErrno = errno;
      ::unlink(tmpPath.c_str());
      return UX_ERROR(renameErrno, "cannot store segment [%s] in disk cache [%s]: %s", name.c_str(),
                      dir_.c_str(), std::strerror(renameErrno));
    }
    usedBytes_ += size;
    usedBytes_ -= replaced;
  }
  // The older copy from before sharding goes: one copy per name.
  if (mayBeFlat(name)) removeFile(name, flatPath(name), true);
  return CUxError();
}

CUxError DirectoryDiskCache::removeSegment(const std::string& name) {
  CUxError error = checkUsable(name);
  if (error.IsError()) return error;
  int removeErrno = removeFile(name, segmentFile(name), false);
  if (removeErrno == ENOENT && mayBeFlat(name))
    removeErrno = removeFile(name, flatPath(name), true);
  if (removeErrno == ENOENT)
    return UX_ERROR(ENOENT, "segment [%s] not found in disk cache [%s]", name.c_str(),
                    dir_.c_str());
  if (removeErrno != 0)
    return UX_ERROR(removeErrno, "cannot remove segment [%s] from disk cache [%s]: %s",
                    name.c_str(), dir_.c_str(), std::strerror(removeErrno));
  OBJSTORE_LOG(4, "INFO: removed segment [%s]", name.c_str());
  return error;
}

// Removes the file of segment `name` at `path` and its bytes from the account. Holds only the
// name's own lock: removals of different segments run in parallel.
int DirectoryDiskCache::removeFile(const std::string& name, const std::string& path, bool flat) {
  std::lock_guard<std::mutex> lock(nameLock(name));
  const uint64_t size = FileSize(path);
  if (::unlink(path.c_str()) != 0) {
    const int removeErrno = errno;
    if (flat && removeErrno == ENOENT) forgetFlat(name);
    return removeErrno;
  }
  usedBytes_ -= size;
  if (flat) forgetFlat(name);
  return 0;
}

void DirectoryDiskCache::forgetFlat(const std::string& name) {
  std::lock_guard<std::mutex> lock(flatMutex_);
  flatNames_.erase(name);
  flatCount_ = flatNames_.size();
}

std::mutex& DirectoryDiskCache::nameLock(const std::string& name) {
  return nameLocks_[Crc32c(name.data(), name.size()) % kNameLocks];
}

std::vector<std::string> DirectoryDiskCache::listSegments() const {
  std::vector<std::string> names;
  ScopedDir dir(dir_);
  if (dir.get() == nullptr) return names;
  while (const struct dirent* entry = ::readdir(dir.get())) {
    if (IsShardName(entry->d_name)) {
      AppendSegmentNames(dir_ + "/" + entry->d_name, &names);
      continue;
    }
    std::string name = SegmentNameOf(entry->d_name);
    if (!name.empty()) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool DirectoryDiskCache::hasSegment(const std::string& name) const {
  struct stat info;
  if (NameProblem(name) != nullptr) return false;
  if (::stat(segmentFile(name).c_str(), &info) == 0) return S_ISREG(info.st_mode);
  return mayBeFlat(name) && ::stat(flatPath(name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
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

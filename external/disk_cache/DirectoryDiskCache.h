// DirectoryDiskCache: the stand-in disk cache. Objects are kept on local disk as segments of
// sections, one file per segment, in 256 subdirectories chosen by a checksum of the segment's
// name. A cache written before segments were spread so holds them in its directory itself:
// they are read, listed and removed as before, and move into their subdirectory when written
// again.
//
// A segment file is versioned (DISK_CACHE_MAGIC, DISK_CACHE_VERSION) and checksummed: a missing,
// truncated or corrupted segment reads as an error, never as wrong sections. The cache accounts
// the bytes its segments use (rebuilt from the directory when it is opened) and answers whether
// they are above its high watermark. All operations are thread-safe.
#ifndef OBJSTORE_DISKCACHE_DIRECTORYDISKCACHE_H_
#define OBJSTORE_DISKCACHE_DIRECTORYDISKCACHE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "CUxError.h"
#include "DiskCache.h"
#include "DiskCacheContext.h"
#include "OpenSegmentInfo.h"
#include "SectionTypes.h"
#include "SectionV.h"
#include "WriteBudget.h"

namespace ObjectStore {

class OpenSegmentMap;

// Longer segment names are refused: with the file name's suffixes they must stay within NAME_MAX.
constexpr uint32_t MAX_SEGMENT_NAME_LENGTH = 128;

class DirectoryDiskCache : public DiskCache {
 public:
  // Opens (creating when missing, with its parents) the cache directory `dir`: removes temporary
  // files a crashed writer left behind and counts the bytes of the segments found. Default high
  // watermark: no limit. One DiskCache per directory: a second one would remove the first one's
  // temporary files. Failure is reported by isOpen(); every later operation then fails.
  explicit DirectoryDiskCache(const std::string& dir);
  // Every AutoOpenSegment must have been destroyed before the cache.
  ~DirectoryDiskCache() override;

  // False when the directory could not be created or scanned; `error` says why.
  bool isOpen(std::string* error = nullptr) const;
  const std::string& directory() const { return dir_; }

  // Reads every section of segment `name`, in segment order, appending to `sections`.
  // One open and one read for the whole segment. Errors (`sections` then untouched): EINVAL for
  // an invalid name, ENOENT for a missing segment, EBADMSG for a truncated or corrupted one (the
  // message says what is wrong), another errno value when the file cannot be read.
  CUxError readAllSections(const DiskCacheContext& context, const std::string& name,
                           std::vector<SectionV>& sections) override;

  // Stores segment `name` atomically (temporary file, fsync when `sync`, rename), replacing any
  // older one; readers see the old or the new segment, never a mix. Names are GUID-like:
  // non-empty, at most MAX_SEGMENT_NAME_LENGTH characters, no '/' or NUL, not starting with '.';
  // others give EINVAL. A failed write (errno value) leaves the older segment in place.
  CUxError writeSegment(const std::string& name, const std::vector<SectionV>& sections,
                        bool sync = false);
  // Removes segment `name`; a missing segment gives ENOENT.
  CUxError removeSegment(const std::string& name);
  // The names of all stored segments, sorted; empty when the directory cannot be read.
  std::vector<std::string> listSegments() const;
  bool hasSegment(const std::string& name) const;
  // The file that holds (or would hold) segment `name`: for tools and tests that look at files.
  std::string segmentFile(const std::string& name) const;

  // True while the used bytes are above the high watermark. Without ordering: the answer is
  // advice that may lag a concurrent write.
  bool isOverHighWatermark() const override {
    return usedBytes_.load(std::memory_order_relaxed) >
           highWatermark_.load(std::memory_order_relaxed);
  }
  void setHighWatermark(uint64_t bytes);
  uint64_t highWatermark() const;
  uint64_t usedBytes() const;

  // What segment writes may still put on the disk before they fail with ENOSPC, as on a full
  // disk (unlimited unless set). The environment variable OBJSTORE_DISKCACHE_FAULTS with the
  // value "diskFullAfter=<size>" sets it when the cache is opened.
  WriteBudget& writeBudget() { return writeBudget_; }
  // Reads a fault plan of the disk cache: "diskFullAfter=<size>" (bytes, KiB, MiB or GiB).
  // False, with the reason in `why`, for anything else.
  static bool ParseFaults(const std::string& spec, uint64_t* diskFullAfter, std::string* why);

  // Segments that an AutoOpenSegment holds open.
  size_t openSegmentCount() const;

 private:
  // The segment map behind AutoOpenSegment. openSegment returns the one entry for `name` (made
  // on first open; the segment need not exist) and counts the opening; closeSegment undoes one
  // opening and frees the entry after the last. Never null; null is ignored by closeSegment.
  OpenSegmentInfo* openSegment(const std::string& name) override;
  void closeSegment(OpenSegmentInfo* info) override;

  std::string flatPath(const std::string& name) const;
  bool mayBeFlat(const std::string& name) const;
  // Creates the subdirectory `shard` unless it exists; with `sync` its entry is made durable.
  int makeShard(const std::string& shard, bool sync);
  void scanDirectory();
  bool scanEntries(const std::string& path, bool top, std::vector<std::string>* flat);
  void countSegment(const std::string& path);
  int removeFile(const std::string& name, const std::string& path, bool flat);
  void forgetFlat(const std::string& name);
  std::mutex& nameLock(const std::string& name);
  void applyFaultsFromEnvironment();
  CUxError checkUsable(const std::string& name) const;
  CUxError readError(const std::string& name, int error) const;
  CUxError installSegment(const std::string& name, const std::string& tmpPath, uint64_t size);

  std::string dir_;
  std::string openError_;
  int openErrno_ = 0;
  std::atomic<uint64_t> usedBytes_{0};
  std::atomic<uint64_t> highWatermark_{UINT64_MAX};
  // Serialise the renames and removals of one name with the accounting of the bytes they add
  // and remove; a name's lock is chosen by a checksum of the name.
  static constexpr size_t kNameLocks = 64;
  std::mutex nameLocks_[kNameLocks];
  size_t scannedSegments_ = 0;
  mutable std::mutex flatMutex_;
  std::set<std::string> flatNames_;   // unsharded segments; guarded by flatMutex_
  std::atomic<size_t> flatCount_{0};  // flatNames_.size(), for a lock-free check
  std::atomic<bool> shardMade_[256] = {};
  const std::unique_ptr<OpenSegmentMap> openSegments_;
  WriteBudget writeBudget_;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_DIRECTORYDISKCACHE_H_

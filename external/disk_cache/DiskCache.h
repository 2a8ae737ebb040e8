// DiskCache: objects kept on local disk as segments of sections, one file per segment.
//
// A segment file is versioned (DISK_CACHE_MAGIC, DISK_CACHE_VERSION) and checksummed: a missing,
// truncated or corrupted segment reads as an error, never as wrong sections. The cache accounts
// the bytes its segments use (rebuilt from the directory when it is opened) and answers whether
// they are above its high watermark. All operations are thread-safe.
#ifndef OBJSTORE_DISKCACHE_DISKCACHE_H_
#define OBJSTORE_DISKCACHE_DISKCACHE_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "CUxError.h"
#include "DiskCacheConstants.h"
#include "DiskCacheContext.h"
#include "OpenSegmentInfo.h"
#include "SectionV.h"

namespace ObjectStore {

class DiskCache {
 public:
  // Opens (creating when missing) the cache directory `dir`. Default high watermark: no limit.
  explicit DiskCache(const std::string& dir);
  ~DiskCache();
  DiskCache(const DiskCache&) = delete;
  DiskCache& operator=(const DiskCache&) = delete;

  // False when the directory could not be created or scanned; `error` says why.
  bool isOpen(std::string* error = nullptr) const;
  const std::string& directory() const { return dir_; }

  // Reads every section of segment `name`, in segment order, appending to `sections`.
  // One open and one read for the whole segment.
  CUxError readAllSections(const DiskCacheContext& context, const std::string& name,
                           std::vector<SectionV>& sections);

  // Stores segment `name` atomically (temporary file, fsync when `sync`, rename), replacing any
  // older one. Names are GUID-like: non-empty, no '/', not starting with '.'.
  CUxError writeSegment(const std::string& name, const std::vector<SectionV>& sections,
                        bool sync = false);
  // Removes segment `name`; a missing segment gives ENOENT.
  CUxError removeSegment(const std::string& name);
  // The names of all stored segments, sorted.
  std::vector<std::string> listSegments() const;
  bool hasSegment(const std::string& name) const;

  inline bool isUnderSpacePressure(const DiskCacheContext& /*context*/) {
    return isOverHighWatermark();
  }
  // True while the used bytes are above the high watermark.
  bool isOverHighWatermark() const;
  void setHighWatermark(uint64_t bytes);
  uint64_t highWatermark() const;
  uint64_t usedBytes() const;

  // Segment map, used by AutoOpenSegment.
  OpenSegmentInfo* openSegment(const std::string& name);
  void closeSegment(OpenSegmentInfo* info);
  size_t openSegmentCount() const;

 private:
  std::string segmentPath(const std::string& name) const;

  std::string dir_;
  std::string openError_;
  std::atomic<uint64_t> usedBytes_{0};
  std::atomic<uint64_t> highWatermark_{UINT64_MAX};
  mutable std::mutex mapMutex_;
  std::map<std::string, OpenSegmentInfo*> openSegments_;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_DISKCACHE_H_

// DiskCache: the disk-cache library's view of its cached objects, as the backup library uses it.
//
// The cache keeps each object that NFS clients write as a segment of sections, named by the
// object's GUID. The backup library reads one segment per item and asks whether the cache is
// short of space; how segments are stored, written and removed is the cache's own business
// (DirectoryDiskCache.h is the stand-in's). The host owns the cache and passes it by reference.
// All operations are thread-safe.
#ifndef OBJSTORE_DISKCACHE_DISKCACHE_H_
#define OBJSTORE_DISKCACHE_DISKCACHE_H_

#include <string>
#include <vector>

#include "CUxError.h"
#include "DiskCacheContext.h"
#include "OpenSegmentInfo.h"
#include "SectionV.h"

namespace ObjectStore {

class DiskCache {
 public:
  virtual ~DiskCache() = default;
  DiskCache(const DiskCache&) = delete;
  DiskCache& operator=(const DiskCache&) = delete;

  // Reads every section of segment `name`, in segment order, appending to `sections`. An error
  // (the segment is missing, damaged or unreadable) leaves `sections` untouched. `context` is
  // passed through.
  virtual CUxError readAllSections(const DiskCacheContext& context, const std::string& name,
                                   std::vector<SectionV>& sections) = 0;

  // Whether the cache is short of space; the context is ignored.
  inline bool isUnderSpacePressure(const DiskCacheContext& /*context*/) {
    return isOverHighWatermark();
  }
  // True while the used space is above the cache's high watermark. Advice that may lag a
  // concurrent write.
  virtual bool isOverHighWatermark() const = 0;

 protected:
  DiskCache() = default;

 private:
  // The cache's map from segment name to its one open entry, reached only through
  // AutoOpenSegment. openSegment never returns null; closeSegment undoes one opening. Private:
  // how AutoOpenSegment reaches the map is each cache's own.
  friend class AutoOpenSegment;
  virtual OpenSegmentInfo* openSegment(const std::string& name) = 0;
  virtual void closeSegment(OpenSegmentInfo* info) = 0;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_DISKCACHE_H_

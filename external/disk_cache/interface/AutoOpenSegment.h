// AutoOpenSegment: keeps one segment open in the cache's segment map while it lives.
#ifndef OBJSTORE_DISKCACHE_AUTOOPENSEGMENT_H_
#define OBJSTORE_DISKCACHE_AUTOOPENSEGMENT_H_

#include <string>

#include "DiskCache.h"
#include "OpenSegmentInfo.h"

namespace ObjectStore {

class AutoOpenSegment {
 public:
  // Opens the segment `name` (it need not exist yet) and reports nothing.
  AutoOpenSegment(DiskCache& cache, const std::string& name)
      : cache_(cache), info_(cache.openSegment(name)) {}
  ~AutoOpenSegment() { cache_.closeSegment(info_); }
  AutoOpenSegment(const AutoOpenSegment&) = delete;
  AutoOpenSegment& operator=(const AutoOpenSegment&) = delete;

  // Never null; valid while this object lives.
  OpenSegmentInfo* getSegInfo() const { return info_; }

 private:
  DiskCache& cache_;
  OpenSegmentInfo* info_;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_AUTOOPENSEGMENT_H_

// OpenSegmentInfo: one open segment of the disk cache.
#ifndef OBJSTORE_DISKCACHE_OPENSEGMENTINFO_H_
#define OBJSTORE_DISKCACHE_OPENSEGMENTINFO_H_

#include <cstddef>
#include <string>

#include "KaCriticalSection.h"

namespace ObjectStore {

struct OpenSegmentInfo {
  KaCriticalSection segmentLock;  // held by a reader of the segment's sections

 private:
  // The cache's own bookkeeping of the entry.
  friend class OpenSegmentMap;
  explicit OpenSegmentInfo(const std::string& segmentName) : name(segmentName) {}
  std::string name;
  int openCount = 0;  // guarded by the cache's map lock
  size_t hash = 0;    // of the name, guarded by the cache's map lock
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_OPENSEGMENTINFO_H_

// The disk cache's map of open segments, used by AutoOpenSegment.
#include <memory>

#include "DiskCache.h"

namespace ObjectStore {

OpenSegmentInfo* DiskCache::openSegment(const std::string& name) {
  std::lock_guard<std::mutex> lock(mapMutex_);
  auto found = openSegments_.find(name);
  if (found == openSegments_.end()) {
    std::unique_ptr<OpenSegmentInfo> fresh(new OpenSegmentInfo(name));
    found = openSegments_.emplace(name, fresh.get()).first;
    fresh.release();
  }
  ++found->second->openCount;
  return found->second;
}

void DiskCache::closeSegment(OpenSegmentInfo* info) {
  if (info == nullptr) return;
  std::lock_guard<std::mutex> lock(mapMutex_);
  if (--info->openCount > 0) return;
  openSegments_.erase(info->name);
  delete info;
}

size_t DiskCache::openSegmentCount() const {
  std::lock_guard<std::mutex> lock(mapMutex_);
  return openSegments_.size();
}

}  // namespace ObjectStore

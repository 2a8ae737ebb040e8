// The disk cache's map of open segments, used by AutoOpenSegment.
#include <memory>

#include "DiskCache.h"

namespace ObjectStore {

namespace {
const size_t kMaxSpareSegments = 64;
}

OpenSegmentInfo* DiskCache::openSegment(const std::string& name) {
  std::lock_guard<std::mutex> lock(mapMutex_);
  auto found = openSegments_.find(name);
  if (found == openSegments_.end()) {
    std::unique_ptr<OpenSegmentInfo> fresh;
    if (spareSegments_.empty()) {
      fresh.reset(new OpenSegmentInfo(name));
    } else {
      fresh.reset(spareSegments_.back());
      spareSegments_.pop_back();
      fresh->name = name;
    }
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
  if (spareSegments_.size() < kMaxSpareSegments) {
    spareSegments_.push_back(info);
  } else {
    delete info;
  }
}

size_t DiskCache::openSegmentCount() const {
  std::lock_guard<std::mutex> lock(mapMutex_);
  return openSegments_.size();
}

}  // namespace ObjectStore

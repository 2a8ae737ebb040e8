#include "OpenSegmentMap.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace ObjectStore {

OpenSegmentMap::~OpenSegmentMap() {
  for (Shard& shard : shards_) {
    for (OpenSegmentInfo* info : shard.open) delete info;
    for (OpenSegmentInfo* info : shard.spare) delete info;
  }
}

OpenSegmentInfo* OpenSegmentMap::open(const std::string& name) {
  const size_t hash = std::hash<std::string>()(name);
  Shard& shard = shards_[hash % kShards];
  std::lock_guard<std::mutex> lock(shard.mutex);
  for (OpenSegmentInfo* info : shard.open) {
    if (info->hash == hash && info->name == name) {
      ++info->openCount;
      return info;
    }
  }
  std::unique_ptr<OpenSegmentInfo> info;
  if (!shard.spare.empty()) {
    // A freed entry keeps its name's buffer: reusing it spares two allocations per item.
    info.reset(shard.spare.back());
    shard.spare.pop_back();
    info->name.assign(name);
  } else {
    info.reset(new OpenSegmentInfo(name));
  }
  info->hash = hash;
  info->openCount = 1;
  shard.open.push_back(info.get());
  return info.release();
}

void OpenSegmentMap::close(OpenSegmentInfo* info) {
  if (info == nullptr) return;
  Shard& shard = shards_[info->hash % kShards];
  std::unique_ptr<OpenSegmentInfo> closed;  // freed once the shard is unlocked
  std::lock_guard<std::mutex> lock(shard.mutex);
  if (--info->openCount > 0) return;
  std::vector<OpenSegmentInfo*>::iterator found =
      std::find(shard.open.begin(), shard.open.end(), info);
  if (found != shard.open.end()) {
    *found = shard.open.back();
    shard.open.pop_back();
  }
  if (shard.spare.size() < kSparesPerShard) {
    shard.spare.push_back(info);
  } else {
    closed.reset(info);
  }
}

size_t OpenSegmentMap::size() const {
  size_t total = 0;
  for (const Shard& shard : shards_) {
    std::lock_guard<std::mutex> lock(shard.mutex);
    total += shard.open.size();
  }
  return total;
}

}  // namespace ObjectStore

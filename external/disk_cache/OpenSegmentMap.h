// OpenSegmentMap: the disk cache's map from segment name to its one open entry.
#ifndef OBJSTORE_DISKCACHE_OPENSEGMENTMAP_H_
#define OBJSTORE_DISKCACHE_OPENSEGMENTMAP_H_

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "OpenSegmentInfo.h"

namespace ObjectStore {

// Senders open and close one segment per item from several threads at once, and hold only a
// few open at any moment (one per sending thread). So the map is split into independently
// locked parts that those threads rarely share, each a short list of open entries searched by
// hash. A closed entry is kept for the next name of its part (a few per part), so that an open
// and a close allocate nothing. All operations are thread-safe.
class OpenSegmentMap {
 public:
  OpenSegmentMap() = default;
  ~OpenSegmentMap();
  OpenSegmentMap(const OpenSegmentMap&) = delete;
  OpenSegmentMap& operator=(const OpenSegmentMap&) = delete;

  // The one entry for `name`, made on first open, with its open count raised. Never null; the
  // entry stays at the same address until the matching number of close calls.
  OpenSegmentInfo* open(const std::string& name);
  // Undoes one open; the last close frees the entry for reuse. Null is ignored.
  void close(OpenSegmentInfo* info);
  // Entries currently open.
  size_t size() const;

 private:
  static constexpr size_t kShards = 16;
  static constexpr size_t kSparesPerShard = 4;

  // Each on its own cache line: threads that work on different shards do not slow each other.
  struct alignas(64) Shard {
    mutable std::mutex mutex;
    std::vector<OpenSegmentInfo*> open;   // owned
    std::vector<OpenSegmentInfo*> spare;  // owned: closed entries kept for reuse
  };

  std::array<Shard, kShards> shards_;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_OPENSEGMENTMAP_H_

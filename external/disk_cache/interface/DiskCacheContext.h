// DiskCacheContext: the caller's context for disk-cache operations, passed through unchanged.
#ifndef OBJSTORE_DISKCACHE_DISKCACHECONTEXT_H_
#define OBJSTORE_DISKCACHE_DISKCACHECONTEXT_H_

#include <cstdint>

namespace ObjectStore {

struct DiskCacheContext {
  uint64_t requestId = 0;  // free for the caller; the cache does not read it
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_DISKCACHECONTEXT_H_

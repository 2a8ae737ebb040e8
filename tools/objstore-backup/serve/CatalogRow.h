// CatalogRow: one version of one object as the catalog records it.
#ifndef OBJSTORE_HOST_SERVE_CATALOGROW_H_
#define OBJSTORE_HOST_SERVE_CATALOGROW_H_

#include <cstdint>
#include <string>

namespace objstore_host {

// Where a version stands. Only "committed" is final; "lost" marks a version whose segment left
// the cache without a recorded commit (found so when the service starts).
enum class ObjectState { kCached, kInJob, kCommitted, kHandedBack, kLost };

const char* ObjectStateName(ObjectState state);
// False for a name that is none of the states' names.
bool ParseObjectState(const std::string& name, ObjectState* state);

struct CatalogRow {
  std::string key;
  uint64_t version = 0;  // unique over the whole catalog, growing: the latest of a key wins
  std::string id;        // the segment's name in the disk cache, the item name in the store
  uint64_t size = 0;
  ObjectState state = ObjectState::kCached;
  int64_t job = 0;           // the last job it was sent in; 0: none yet
  int stream = -1;           // the stream index within that job; -1: none yet
  double putTime = 0;        // seconds since the epoch
  double committedTime = 0;  // seconds since the epoch; 0: not committed
  uint32_t handBacks = 0;    // how often a job handed it back
  std::string reason;        // why it was last handed back
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_CATALOGROW_H_

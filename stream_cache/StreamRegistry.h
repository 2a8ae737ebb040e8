// The stream registry's housekeeping, internal to the library: the records of ended jobs leave
// gStreams once they hold no uncommitted item, so that a server that runs job after job keeps
// no record of every stream it ever had.
#ifndef OBJSTORE_STREAM_CACHE_STREAMREGISTRY_H_
#define OBJSTORE_STREAM_CACHE_STREAMREGISTRY_H_

#include "ObjectStoreStreamInfo.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

// Drops `record` from gStreams when its job has ended (setQuitFlag) and it holds no uncommitted
// item, unless a later job registered another record under its id. True when it was dropped.
// Commit notifications for a dropped stream then find no stream, as for any unknown one.
bool DropStreamIfDone(const StreamInfoPtr& record) REQUIRES(gStreamLock);

}  // namespace ObjectStore

#endif  // OBJSTORE_STREAM_CACHE_STREAMREGISTRY_H_

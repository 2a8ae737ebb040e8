// The stream registry's operations, internal to the library: the one path by which committed
// items leave a stream record for the host, and the housekeeping that drops the records of ended
// jobs once they hold no uncommitted item, so that a server that runs job after job keeps no
// record of every stream it ever had.
//
// gStreams and gStreamLock themselves are declared in ObjectStoreStreamInfo.h, where hosts find
// them.
#ifndef OBJSTORE_STREAM_CACHE_STREAMREGISTRY_H_
#define OBJSTORE_STREAM_CACHE_STREAMREGISTRY_H_

#include <cstdint>
#include <list>
#include <string>

#include "ObjectStoreStreamInfo.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

// One report of committed items, as a commit notification, a commit kept for a later callback or
// a sender whose item a commit covered makes it. ReportCommits calls take, then deliver, both
// under gStreamLock.
class CommitReporter {
 public:
  virtual ~CommitReporter() {}
  // Moves the items to report out of `record` into `committed`, oldest first. False when nothing
  // is to be reported now: deliver is then not called.
  virtual bool take(StreamInfo& record, std::list<std::string>& committed) = 0;
  // Hands the items to the host. Must not throw past the caller's expectations: an exception
  // passes to the thread that made the report, after gStreamLock is left.
  virtual void deliver(uint32_t aFileId, std::list<std::string> committed) = 0;
};

// The one path by which committed items reach the host. Under gStreamLock, which keeps the
// reports of every stream in the order their items left the records: takes the items, drops the
// record when its job has ended and it holds no item (DropStreamIfDone), then delivers.
void ReportCommits(const StreamInfoPtr& record, CommitReporter& reporter) EXCLUDES(gStreamLock);
// The same for the record registered under `aFileId`; false, with nothing called, when there is
// none.
bool ReportCommits(uint32_t aFileId, CommitReporter& reporter) EXCLUDES(gStreamLock);

// Drops `record` from gStreams when its job has ended (setQuitFlag) and it holds no uncommitted
// item, unless a later job registered another record under its id. True when it was dropped.
// Commit notifications for a dropped stream then find no stream, as for any unknown one.
// Every path that empties the record of an ended job calls it under the same hold of gStreamLock.
bool DropStreamIfDone(const StreamInfoPtr& record) REQUIRES(gStreamLock);

}  // namespace ObjectStore

#endif  // OBJSTORE_STREAM_CACHE_STREAMREGISTRY_H_

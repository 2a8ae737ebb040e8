// ObjectWriter: the PUT path. Turns a received body into a new version of its key: a segment in
// the disk cache (as ingest writes one), durable through the group sync, a catalog row, and an
// entry in the send queue. No lock is held across the writes; the only waits are the shared
// sync and the catalog's shared transaction.
#ifndef OBJSTORE_HOST_SERVE_OBJECTWRITER_H_
#define OBJSTORE_HOST_SERVE_OBJECTWRITER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "Catalog.h"
#include "CommitWaiters.h"
#include "DirectoryDiskCache.h"
#include "GroupSync.h"
#include "JobRoller.h"
#include "ObjectBody.h"
#include "ServeMetrics.h"

namespace objstore_host {

class ObjectWriter {
 public:
  // Versions handed out start after `lastVersion`. Everything given must outlive the writer.
  ObjectWriter(ObjectStore::DirectoryDiskCache& cache, Catalog& catalog, GroupSync& sync,
               JobRoller& roller, CommitWaiters& waiters, ServeMetrics& metrics,
               uint64_t lastVersion);

  // Stores `body` as the newest version of `key` (a key CheckObjectKey accepts). With
  // `waiter`, a commit waiter for it is registered before it is queued. Returns the HTTP status:
  // 201 with `row` filled once the object is durable and recorded; 507 when the cache is full;
  // 500 otherwise, with the reason in `error`; nothing is left in the cache then. Thread-safe.
  int put(const std::string& key, ObjectBody& body, std::chrono::steady_clock::time_point start,
          bool waiter, CatalogRow* row, std::string* error);

  // The segment name of version `version` of `key`: 40 hexadecimal characters.
  static std::string SegmentName(const std::string& key, uint64_t version);

 private:
  ObjectStore::DirectoryDiskCache& cache_;
  Catalog& catalog_;
  GroupSync& sync_;
  JobRoller& roller_;
  CommitWaiters& waiters_;
  ServeMetrics& metrics_;
  std::atomic<uint64_t> lastVersion_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_OBJECTWRITER_H_

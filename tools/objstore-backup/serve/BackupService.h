// BackupService: the long-running backup service as one object: the disk cache, the catalog
// (reconciled with the cache when it starts), the group sync, the job roller and the HTTP
// interface. The serve command runs one; tests run it in-process on an ephemeral port.
#ifndef OBJSTORE_HOST_SERVE_BACKUPSERVICE_H_
#define OBJSTORE_HOST_SERVE_BACKUPSERVICE_H_

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Catalog.h"
#include "CommitWaiters.h"
#include "DirectoryDiskCache.h"
#include "GroupSync.h"
#include "HttpService.h"
#include "JobRoller.h"
#include "ObjectWriter.h"
#include "ServeMetrics.h"
#include "ServeOptions.h"
#include "StatsSampler.h"

namespace objstore_host {

class BackupService {
 public:
  explicit BackupService(const ServeOptions& options);
  // Stops, when stop() was not called.
  ~BackupService();
  BackupService(const BackupService&) = delete;
  BackupService& operator=(const BackupService&) = delete;

  // Sets up the library's root (the store too, when named), opens the cache and the catalog,
  // reconciles them, finds leftover jobs, starts the jobs and serves HTTP on a thread. False,
  // with the reason in `error`, when any of it fails. Call once, from one process per root.
  bool start(std::string* error);
  int port() const { return http_ ? http_->port() : 0; }

  // Stop's first step alone: from now on PUTs get 503 and /healthz says the service stops.
  void refuseObjects() {
    if (http_) http_->refuseObjects();
  }

  // The clean stop: PUTs get 503, the running job ends with its commit wait, the requests in
  // flight are answered, the HTTP server stops. Returns the summary. Later calls return it
  // again.
  nlohmann::json stop();

  // The catalog, once started: for tests that break it.
  Catalog& catalogForTesting() { return *catalog_; }
  JobRoller& rollerForTesting() { return *roller_; }

  // Figures for /status beyond the metrics. Thread-safe.
  nlohmann::json status() const;

 private:
  bool setUpRoot(std::string* error);
  void reconcile();
  int64_t firstJobId() const;

  ServeOptions options_;
  std::vector<std::string> warnings_;
  std::vector<ObjectStore::LeftoverJob> leftovers_;
  uint64_t reconciledSegments_ = 0;  // found in the cache, missing from the catalog
  uint64_t lostVersions_ = 0;        // in the catalog, their segment gone uncommitted
  uint64_t committedLeftovers_ = 0;  // committed, their segment still in the cache
  uint64_t resumed_ = 0;             // queued again at the start
  std::unique_ptr<ObjectStore::DirectoryDiskCache> cache_;
  std::unique_ptr<Catalog> catalog_;
  std::unique_ptr<GroupSync> sync_;
  ServeMetrics metrics_;
  CommitWaiters waiters_;
  std::unique_ptr<JobRoller> roller_;
  std::unique_ptr<ObjectWriter> writer_;
  std::unique_ptr<HttpService> http_;
  std::unique_ptr<StatsSampler> sampler_;  // with --stats
  std::thread server_;
  bool stopped_ = false;
  nlohmann::json summary_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_BACKUPSERVICE_H_

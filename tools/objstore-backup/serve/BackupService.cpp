#include "BackupService.h"

#include <algorithm>
#include <filesystem>

#include "BackupStatistics.h"
#include "HostLog.h"
#include "LogWriter.h"
#include "ObjectMetadata.h"
#include "ObjectStoreStatic.h"
#include "PipelineOptions.h"
#include "ProcessFigures.h"
#include "RunLister.h"
#include "SectionTypes.h"

namespace objstore_host {

namespace {

// "ADDR:PORT" into its parts; false when it is not that.
bool ParseListen(const std::string& listen, std::string* host, int* port) {
  const size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == listen.size()) return false;
  const std::string digits = listen.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *port = std::stoi(digits);
  *host = listen.substr(0, colon);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  }
  return *port <= 65535;
}

// The object metadata of a cached segment; false when it has none this program can read.
bool ReadMetadata(ObjectStore::DirectoryDiskCache& cache, const std::string& name,
                  ObjectMetadata* metadata) {
  std::vector<ObjectStore::SectionV> sections;
  ObjectStore::DiskCacheContext context;
  if (cache.readAllSections(context, name, sections).IsError()) return false;
  for (const ObjectStore::SectionV& section : sections) {
    if (section.type != ObjectStore::kSectionMetaData ||
        section.metaDataType != ObjectMetadata::kSectionKind) {
      continue;
    }
    std::string error;
    return metadata->parse(std::string(section.data.begin(), section.data.end()), &error);
  }
  return false;
}

}  // namespace

std::string ServeOptions::DefaultCatalogFile(const std::string& cacheDir) {
  std::string dir = cacheDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir + ".catalog.sqlite";
}

BackupService::BackupService(const ServeOptions& options) : options_(options) {
  if (options_.catalogFile.empty()) {
    options_.catalogFile = ServeOptions::DefaultCatalogFile(options_.backup.cacheDir);
  }
}

BackupService::~BackupService() {
  stop();
}

bool BackupService::start(std::string* error) {
  std::string host;
  int port = 0;
  if (!ParseListen(options_.listen, &host, &port)) {
    *error = "--listen [" + options_.listen + "] is not ADDR:PORT";
    return false;
  }
  if (!setUpRoot(error)) return false;
  cache_.reset(new ObjectStore::DirectoryDiskCache(options_.backup.cacheDir));
  if (!cache_->isOpen(error)) {
    *error = "cannot open the disk cache [" + options_.backup.cacheDir + "]: " + *error;
    return false;
  }
  cache_->setHighWatermark(options_.backup.highWatermark);
  catalog_.reset(new Catalog);
  if (!catalog_->open(options_.catalogFile, error)) return false;
  sync_.reset(new GroupSync(options_.backup.cacheDir));
  if (!sync_->isOpen(error)) return false;

  for (const ObjectStore::LeftoverJob& job :
       ObjectStore::LeftoverJobs::List(ObjectStore::ObjectStoreStatic::rootDir)) {
    if (!job.problem.empty()) {
      warnings_.push_back("leftover job directory [" + job.dir + "]: " + job.problem);
    } else if (job.appId == options_.backup.appId) {
      leftovers_.push_back(job);
    }
  }
  RollerOptions roller;
  roller.appId = options_.backup.appId;
  roller.streams = options_.backup.streams;
  roller.threads = options_.backup.threads;
  roller.resendRounds = options_.backup.resendRounds;
  roller.jobObjects = std::max<uint64_t>(1, options_.jobObjects);
  roller.jobTime = std::chrono::milliseconds(static_cast<int64_t>(options_.jobSeconds * 1000));
  roller.firstJobId = firstJobId();
  roller_.reset(new JobRoller(roller, *cache_, *catalog_, metrics_, waiters_));
  reconcile();
  writer_.reset(new ObjectWriter(*cache_, *catalog_, *sync_, *roller_, waiters_, metrics_,
                                 catalog_->maxVersion()));
  HttpOptions http;
  http.maxObjectSize = options_.maxObjectSize;
  http.extentBytes = options_.extentSize;
  http.ackTimeout =
      std::chrono::milliseconds(static_cast<int64_t>(options_.ackTimeoutSeconds * 1000));
  http.threads = options_.httpThreads;
  http_.reset(
      new HttpService(http, *writer_, *catalog_, metrics_, waiters_, [this] { return status(); }));
  if (!http_->bind(host, port, error)) return false;
  if (!options_.backup.statsFile.empty()) {
    sampler_.reset(
        new StatsSampler(options_.backup.statsFile, options_.backup.statsInterval, nullptr));
    sampler_->start();
  }
  roller_->start(leftovers_);
  server_ = std::thread([this] { http_->serve(); });
  return true;
}

bool BackupService::setUpRoot(std::string* error) {
  const std::string& base = options_.backup.rootBase;
  if (base.empty()) {
    *error = "no root base given";
    return false;
  }
  std::error_code failed;
  std::filesystem::create_directories(base, failed);
  if (failed) {
    *error = "cannot create the root base [" + base + "]: " + failed.message();
    return false;
  }
  if (!options_.backup.storeDir.empty()) {
    OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
    pipeline.storeDir = options_.backup.storeDir;
    OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  }
  LoggedErrors logged;
  if (!ObjectStore::initBackupInterace(base)) {
    *error = "cannot set up the root directory under [" + base + "]";
    if (!logged.first().empty()) *error += ": " + logged.first();
    return false;
  }
  return true;
}

int64_t BackupService::firstJobId() const {
  int64_t highest = 0;
  for (const ObjectStore::LeftoverJob& job : leftovers_) highest = std::max(highest, job.jobId);
  std::string storeDir = options_.backup.storeDir;
  if (storeDir.empty()) storeDir = OBJECTOPSAPI::PipelineOptions::ResolveStoreDir();
  std::vector<RunLine> runs;
  std::string ignored;
  if (RunLister(storeDir).list(0, true, &runs, &ignored)) {
    for (const RunLine& run : runs) highest = std::max(highest, run.jobId);
  }
  return highest + 1;
}

void BackupService::reconcile() {
  // Segments the catalog lacks: written, but their row was lost with the machine.
  std::vector<std::pair<std::string, ObjectMetadata>> found;
  uint64_t highest = catalog_->maxVersion();
  for (const std::string& name : cache_->listSegments()) {
    CatalogRow row;
    ObjectMetadata metadata;
    if (catalog_->byId(name, &row)) {
      // A commit is recorded before its segment is removed: a kill between the two leaves a
      // segment nobody sends again.
      if (row.state == ObjectState::kCommitted && !cache_->removeSegment(name).IsError()) {
        ++committedLeftovers_;
      }
      continue;
    }
    if (!ReadMetadata(*cache_, name, &metadata)) {
      warnings_.push_back("segment [" + name + "] holds no readable object metadata: not served");
      continue;
    }
    highest = std::max(highest, metadata.version);
    found.emplace_back(name, metadata);
  }
  uint64_t ticket = 0;
  for (const auto& entry : found) {
    const ObjectMetadata& metadata = entry.second;
    CatalogRow row;
    row.key = metadata.path;
    // A segment from elsewhere (ingest) has no version: it becomes the newest.
    row.version = metadata.version != 0 ? metadata.version : ++highest;
    row.id = entry.first;
    row.size = metadata.size;
    row.putTime = static_cast<double>(metadata.mtimeSeconds) + metadata.mtimeNanos / 1e9;
    ticket = catalog_->insert(row);
  }
  if (ticket != 0) catalog_->wait(ticket);
  reconciledSegments_ = found.size();
  // Rows whose segment is gone without a recorded commit are lost; the others are sent again.
  std::vector<std::string> waiting;
  catalog_->forEachWaiting([this, &waiting](const CatalogRow& row) {
    if (cache_->hasSegment(row.id)) {
      waiting.push_back(row.id);
    } else {
      catalog_->markLost(row.id);
      ++lostVersions_;
    }
  });
  for (const std::string& id : waiting) {
    roller_->enqueue(id, std::chrono::steady_clock::time_point());
    ++metrics_.objectsWaiting;
  }
  resumed_ = waiting.size();
  if (lostVersions_ > 0) {
    warnings_.push_back(std::to_string(lostVersions_) +
                        " versions in the catalog had no segment and no commit: marked lost");
  }
}

nlohmann::json BackupService::status() const {
  const ProcessFigures figures = ProcessFigures::Now();
  nlohmann::json json;
  json["process"] = {
      {"rss_bytes", figures.rssBytes}, {"open_fds", figures.openFds}, {"threads", figures.threads}};
  json["library"] = {{"controllers", figures.controllers},
                     {"streams_registered", figures.streamsRegistered}};
  json["job"] = roller_ ? roller_->currentJob() : 0;
  json["queued"] = roller_ ? roller_->queued() : 0;
  json["catalog_transactions"] = catalog_ ? catalog_->transactions() : 0;
  json["syncs"] = sync_ ? sync_->syncs() : 0;
  json["sync_waiters"] = sync_ ? sync_->waiters() : 0;
  return json;
}

nlohmann::json BackupService::stop() {
  if (stopped_) return summary_;
  stopped_ = true;
  refuseObjects();
  // Ending the job delivers its commits, which answers the PUTs waiting for them.
  if (roller_) roller_->stop();
  if (http_) {
    http_->waitForPuts(std::chrono::seconds(30));
    http_->stop();
  }
  if (server_.joinable()) server_.join();
  std::vector<std::string> problems = warnings_;
  std::string statsError;
  if (sampler_ && !sampler_->stop(ObjectStore::GetProcessStatistics(), &statsError)) {
    problems.push_back("statistics: " + statsError);
  }
  if (roller_) {
    for (const std::string& problem : roller_->problems()) problems.push_back(problem);
  }
  summary_ = {{"jobs", roller_ ? roller_->jobsEnded() : 0},
              {"objects_received", metrics_.putSeconds.count()},
              {"bytes_received", metrics_.receivedBytes.load()},
              {"committed", roller_ ? roller_->committed() : 0},
              {"objects_waiting", metrics_.objectsWaiting.load()},
              {"resent", metrics_.resends.load()},
              {"restarted", !leftovers_.empty()},
              {"resumed_from_cache", resumed_},
              {"reconciled_segments", reconciledSegments_},
              {"lost_versions", lostVersions_},
              {"committed_segments_removed", committedLeftovers_},
              {"problems", problems}};
  return summary_;
}

}  // namespace objstore_host

// scale_bench: a job of a million objects. It writes the objects (64 B to 4 KiB, sizes from a
// seed) straight into a disk cache, backs them all up in one job from one thread per stream,
// and prints the rate of each tenth of the job and the process's peak resident memory. A second
// job, whose commits the pipeline holds back until its end, measures the library's memory per
// uncommitted item. Segments are not removed: the cache stays as written, for a rerun with
// --dir.
#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <list>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchProcess.h"
#include "DirectoryDiskCache.h"
#include "ErrorText.h"
#include "HostLog.h"
#include "ObjStoreBackupInterface.h"
#include "ObjectId.h"
#include "PipelineOptions.h"
#include "SegmentBuilder.h"
#include "ThreadGroup.h"

namespace {

typedef std::chrono::steady_clock Clock;

struct ScaleOptions {
  uint64_t objects = 1000000;
  uint64_t minSize = 64;
  uint64_t maxSize = 4096;
  uint32_t streams = 4;
  uint64_t holdItems = 200000;
  uint32_t seed = 1;
  std::string dir;
};

std::string ObjectName(uint64_t index) {
  return objstore_host::ObjectGuid("scale/obj-" + std::to_string(index));
}

// Writes the objects on two threads; returns their names, or an empty list after an error.
std::vector<std::string> WriteObjects(ObjectStore::DirectoryDiskCache& cache,
                                      const ScaleOptions& options) {
  std::vector<std::string> names(options.objects);
  std::atomic<uint64_t> next(0);
  std::atomic<bool> failed(false);
  const objstore_host::SegmentBuilder builder(1 << 20);
  objstore_host::RunOnThreads(2, [&] {
    for (uint64_t i = next++; i < options.objects && !failed; i = next++) {
      names[i] = ObjectName(i);
      if (cache.hasSegment(names[i])) continue;  // kept from an earlier run in --dir
      std::mt19937_64 random(options.seed * 1000003ull + i);
      const uint64_t size = options.minSize + random() % (options.maxSize - options.minSize + 1);
      std::string data(size, static_cast<char>('a' + i % 26));
      objstore_host::ObjectMetadata metadata;
      metadata.path = "scale/obj-" + std::to_string(i);
      metadata.size = size;
      metadata.mode = 0644;
      const std::string source = objstore_host::SourceId("/scale/source-" + std::to_string(i));
      CUxError error = cache.writeSegment(names[i], builder.fromMemory(metadata, source, data));
      if (error.IsError()) {
        std::cerr << "scale_bench: " << objstore_host::ErrorText(error) << "\n";
        failed = true;
      }
    }
  });
  if (failed) names.clear();
  return names;
}

struct Tally {
  std::atomic<uint64_t> committed{0};
};

void OnCommit(uint32_t, std::list<std::string> items, void* context) {
  static_cast<Tally*>(context)->committed += items.size();
}

// One job over `items`; fills `tenthEnds` (when each tenth of the items had been sent) when
// given. Returns false after an error.
bool RunJob(const std::vector<std::string>& items, ObjectStore::DiskCache& cache,
            const ScaleOptions& options, int64_t jobId, std::vector<Clock::time_point>* tenthEnds,
            const std::function<void()>& afterSends) {
  OBJECTOPSAPI::JobInfoPtr job(new OBJECTOPSAPI::JobInfo);
  job->numStreams = options.streams;
  job->jobId = jobId;
  job->appId = 1;
  ObjectStore::BackupInterfacePtr controller;
  CUxError error = ObjectStore::BackupInterface::getController(job, controller, false);
  if (error.IsError()) {
    std::cerr << "scale_bench: getController: " << objstore_host::ErrorText(error) << "\n";
    return false;
  }
  Tally tally;
  controller->setCallBack(&OnCommit, &tally);
  const uint64_t tenth = std::max<uint64_t>(1, items.size() / 10);
  std::vector<std::atomic<int64_t>> ends(10);
  std::atomic<uint64_t> next(0), sent(0), failures(0);
  objstore_host::RunOnThreads(options.streams, [&] {
    std::list<std::string> failed;
    ObjectStore::DiskCacheContext context;
    for (uint64_t i = next++; i < items.size(); i = next++) {
      if (controller->sendItem(items[i].c_str(), failed, nullptr, nullptr, cache, context)
              .IsError()) {
        ++failures;
      }
      const uint64_t done = ++sent;
      if (done % tenth == 0 && done / tenth <= 10) {
        ends[done / tenth - 1] = Clock::now().time_since_epoch().count();
      }
    }
  });
  if (afterSends) afterSends();
  std::list<std::string> notCommitted;
  error = controller->endBackup(notCommitted, true);
  if (tenthEnds != nullptr) {
    for (const std::atomic<int64_t>& end : ends)
      tenthEnds->push_back(Clock::time_point(Clock::duration(end.load())));
  }
  if (error.IsError() || failures != 0 || tally.committed != items.size()) {
    std::cerr << "scale_bench: job " << jobId << ": " << failures << " sends failed, "
              << tally.committed << " of " << items.size() << " committed"
              << (error.IsError() ? ", endBackup: " + objstore_host::ErrorText(error) : "") << "\n";
    return false;
  }
  return true;
}

void UseStore(const std::string& dir, bool holdCommits) {
  OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::FromEnvironment();
  pipeline.storeDir = dir;
  if (holdCommits) pipeline.commitItems = pipeline.commitBytes = pipeline.commitMs = 0;
  OBJECTOPSAPI::PipelineOptions::Override(pipeline);
}

int Run(const ScaleOptions& options, const std::string& dir) {
  std::error_code ignored;
  std::filesystem::create_directories(dir + "/root", ignored);
  if (!ObjectStore::initBackupInterace(dir + "/root")) return 1;
  ObjectStore::DirectoryDiskCache cache(dir + "/cache");
  Clock::time_point start = Clock::now();
  std::vector<std::string> items = WriteObjects(cache, options);
  if (items.empty()) return 1;
  std::cerr << "wrote " << items.size() << " objects in "
            << std::chrono::duration<double>(Clock::now() - start).count() << " s\n";
  sync();

  UseStore(dir + "/store", false);
  const long residentBefore = objstore_bench::ProcessStatusKib("VmRSS");
  std::vector<Clock::time_point> tenthEnds;
  start = Clock::now();
  if (!RunJob(items, cache, options, 1, &tenthEnds, nullptr)) return 1;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::cout << "| tenth | items/s |\n|---|---|\n";
  Clock::time_point from = start;
  for (size_t i = 0; i < tenthEnds.size(); ++i) {
    const double span = std::chrono::duration<double>(tenthEnds[i] - from).count();
    std::printf("| %zu | %.0f |\n", i + 1, span > 0 ? items.size() / 10 / span : 0);
    from = tenthEnds[i];
  }
  std::printf(
      "\n%zu objects in %.1f s (%.0f items/s, to the end of the job); resident memory "
      "%ld KiB before the job (the names of the objects included), peak %ld KiB\n",
      items.size(), seconds, items.size() / seconds, residentBefore,
      objstore_bench::ProcessStatusKib("VmHWM"));
  std::filesystem::remove_all(dir + "/store", ignored);

  // The second job: every item stays uncommitted until the job ends.
  const uint64_t held = std::min<uint64_t>(options.holdItems, items.size());
  if (held == 0) return 0;
  items.resize(held);
  UseStore(dir + "/store", true);
  long before = 0, after = 0;
  before = objstore_bench::ProcessStatusKib("VmRSS");
  if (!RunJob(items, cache, options, 2, nullptr,
              [&] { after = objstore_bench::ProcessStatusKib("VmRSS"); }))
    return 1;
  const double perItem = (after - before) * 1024.0 / held;
  std::printf(
      "%llu uncommitted items: %.0f bytes each (the pipeline's buffers included), "
      "%.0f beyond the heap block of a 40-character name (64 bytes)\n",
      static_cast<unsigned long long>(held), perItem, perItem - 64);
  std::filesystem::remove_all(dir + "/store", ignored);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ScaleOptions options;
  CLI::App app("Backs up a million objects in one job and reports how the rate holds up.",
               "scale_bench");
  app.add_option("--objects", options.objects, "Objects in the job")
      ->check(CLI::Range(uint64_t{10}, uint64_t{100000000}))
      ->capture_default_str();
  app.add_option("--min-size", options.minSize, "Smallest object in bytes")->capture_default_str();
  app.add_option("--max-size", options.maxSize, "Largest object in bytes")->capture_default_str();
  app.add_option("--streams", options.streams, "Streams, and sending threads")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.add_option("--hold-items", options.holdItems,
                 "Items of the second job, whose commits wait for its end (0: no second job)")
      ->capture_default_str();
  app.add_option("--seed", options.seed, "Seed of the object sizes")->capture_default_str();
  app.add_option("--dir", options.dir,
                 "Work directory, kept (default: a temporary one, removed at the end)");
  CLI11_PARSE(app, argc, argv);
  if (options.minSize == 0 || options.minSize > options.maxSize) {
    std::cerr << "scale_bench: --min-size must be from 1 to --max-size\n";
    return 2;
  }
  const bool temporary = options.dir.empty();
  std::string dir = options.dir;
  if (temporary) {
    dir =
        objstore_bench::MakeBenchDir(objstore_bench::TemporaryParent("/var/tmp"), "objstore-scale");
    if (dir.empty()) {
      std::cerr << "scale_bench: cannot create a work directory\n";
      return 1;
    }
  }
  setenv("OBJSTORE_SETTINGS_FILE", (dir + "/settings").c_str(), 1);
  objstore_host::RouteLogToStderr(-1);
  const int status = Run(options, dir);
  std::error_code ignored;
  if (temporary) std::filesystem::remove_all(dir, ignored);
  return status;
}

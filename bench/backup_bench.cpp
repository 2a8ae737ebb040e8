// backup_bench: what the library costs a host. For objects of each size and each number of
// streams, the same segments are backed up through the library (host threads calling sendItem,
// commits through the callback, endBackup) and by a raw baseline that sends the same sections on
// the pipeline's streams directly, alternately, several times; the medians of throughput and of
// each round's ratio are printed as a Markdown table, with the time from the last commit
// notification to endBackup's return.
#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "BenchWorkload.h"
#include "DirectoryDiskCache.h"
#include "HostLog.h"
#include "LibraryBackup.h"
#include "ObjectStoreStatic.h"
#include "PipelineFaults.h"
#include "RawBackup.h"

namespace objstore_bench {
namespace {

struct BenchOptions {
  std::string dir;  // empty: a temporary directory, removed at the end
  std::vector<uint64_t> sizes = {1 << 10, 64 << 10, 1 << 20};
  std::vector<uint32_t> streams = {1, 2, 4};
  uint32_t repeat = 9;
  uint64_t mibPerCase = 256;
  uint64_t maxItems = 40000;
  std::string side = "both";  // or "library", "baseline": one side alone, for profiling
  std::string faults;         // a pipeline fault plan for both sides, e.g. "flowWindow=1"
};

struct CaseFigures {
  uint64_t items = 0;
  double libraryItems = 0;  // per second, medians
  double libraryMib = 0;
  double rawItems = 0;
  double rawMib = 0;
  double ratio = 0;  // median over the rounds of library / baseline items per second
  // Median over the rounds of the library's extra time per item against the baseline of the
  // same round: 1/library - 1/baseline items per second, in microseconds.
  double extraMicrosPerItem = 0;
  double commitToEndMs = 0;  // median, library runs
  double commitToEndMaxMs = 0;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::string SizeText(uint64_t size) {
  if (size >= (1 << 20) && size % (1 << 20) == 0) return std::to_string(size >> 20) + " MiB";
  if (size >= (1 << 10) && size % (1 << 10) == 0) return std::to_string(size >> 10) + " KiB";
  return std::to_string(size) + " B";
}

class Bench {
 public:
  explicit Bench(const BenchOptions& options) : options_(options) {}

  int run(const std::string& dir) {
    dir_ = dir;
    std::error_code error;
    std::filesystem::create_directories(dir_ + "/root", error);
    if (error || !ObjectStore::initBackupInterace(dir_ + "/root")) {
      std::cerr << "backup_bench: cannot set up the library's root under " << dir_ << "\n";
      return 1;
    }
    std::cout << "| object size | streams | items | library items/s | library MiB/s "
                 "| baseline items/s | baseline MiB/s | ratio | library's extra us per item "
                 "| last commit to endBackup, median / max (ms) |\n"
                 "|---|---|---|---|---|---|---|---|---|---|\n";
    for (uint64_t size : options_.sizes) {
      if (!runSize(size)) return 1;
    }
    return failed_ ? 1 : 0;
  }

 private:
  bool runSize(uint64_t size) {
    const uint64_t count =
        std::max<uint64_t>(1, std::min(options_.maxItems, (options_.mibPerCase << 20) / size));
    BenchWorkload workload;
    std::string error;
    const std::string cacheDir = dir_ + "/cache-" + std::to_string(size);
    std::cerr << "writing " << count << " objects of " << SizeText(size) << "\n";
    if (!MakeWorkload(cacheDir, size, count, &workload, &error)) {
      std::cerr << "backup_bench: cannot write the workload: " << error << "\n";
      return false;
    }
    ObjectStore::DirectoryDiskCache cache(cacheDir);
    sync();  // the freshly written workload is on disk before the first timed run
    for (uint32_t streams : options_.streams)
      printRow(workload, streams, runCase(workload, cache, streams));
    std::error_code ignored;
    std::filesystem::remove_all(cacheDir, ignored);
    return true;
  }

  CaseFigures runCase(const BenchWorkload& workload, ObjectStore::DiskCache& cache,
                      uint32_t streams) {
    std::vector<double> libItems, libMib, rawItems, rawMib, commitToEnd, ratios, extraMicros;
    for (uint32_t round = 0; round < options_.repeat; ++round) {
      // Alternate the order, so that neither side always meets a warmer system.
      for (int side = 0; side < 2; ++side) {
        const bool library = (side + round) % 2 == 0;
        if (options_.side != "both" && library != (options_.side == "library")) continue;
        const BenchRun run = runOnce(workload, cache, streams, library);
        (library ? libItems : rawItems).push_back(run.itemsPerSecond());
        (library ? libMib : rawMib).push_back(run.mibPerSecond());
        if (library) commitToEnd.push_back(run.lastCommitToEndMs);
      }
      // Each round's two runs are back to back, so their ratio is free of the machine's slower
      // drifts (other load, writeback) that move both sides alike.
      if (!libItems.empty() && libItems.size() == rawItems.size() && rawItems.back() > 0) {
        ratios.push_back(libItems.back() / rawItems.back());
        if (libItems.back() > 0)
          extraMicros.push_back(1e6 / libItems.back() - 1e6 / rawItems.back());
      }
    }
    CaseFigures figures;
    figures.items = workload.items.size();
    figures.libraryItems = Median(libItems);
    figures.libraryMib = Median(libMib);
    figures.rawItems = Median(rawItems);
    figures.rawMib = Median(rawMib);
    figures.ratio = Median(ratios);
    figures.extraMicrosPerItem = Median(extraMicros);
    figures.commitToEndMs = Median(commitToEnd);
    if (!commitToEnd.empty()) {
      figures.commitToEndMaxMs = *std::max_element(commitToEnd.begin(), commitToEnd.end());
    }
    return figures;
  }

  BenchRun runOnce(const BenchWorkload& workload, ObjectStore::DiskCache& cache, uint32_t streams,
                   bool library) {
    BenchRunOptions options;
    options.storeDir = dir_ + "/store";
    options.streams = streams;
    options.threads = streams;
    options.jobId = ++jobs_;
    const BenchRun run = library ? RunThroughLibrary(workload, cache, options)
                                 : RunRawBaseline(workload, cache, options);
    if (!run.error.empty() || run.committed != run.items) {
      std::cerr << "backup_bench: " << (library ? "library" : "baseline")
                << " run failed: " << run.error << " (" << run.committed << " of " << run.items
                << " committed)\n";
      failed_ = true;
    }
    std::error_code ignored;
    std::filesystem::remove_all(options.storeDir, ignored);  // keeps the disk use bounded
    // The next run starts with no dirty data of this one waiting for the disk: writeback that
    // throttles the next run's writes would be charged to whichever side came next.
    sync();
    return run;
  }

  void printRow(const BenchWorkload& workload, uint32_t streams, const CaseFigures& f) {
    char row[256];
    std::snprintf(row, sizeof(row),
                  "| %s | %u | %llu | %.0f | %.1f | %.0f | %.1f | %.3f | %.2f | %.1f / %.1f |\n",
                  SizeText(workload.objectSize).c_str(), streams,
                  static_cast<unsigned long long>(f.items), f.libraryItems, f.libraryMib,
                  f.rawItems, f.rawMib, f.ratio, f.extraMicrosPerItem, f.commitToEndMs,
                  f.commitToEndMaxMs);
    std::cout << row << std::flush;
  }

  const BenchOptions options_;
  std::string dir_;
  int64_t jobs_ = 0;
  bool failed_ = false;
};

}  // namespace
}  // namespace objstore_bench

int main(int argc, char** argv) {
  objstore_bench::BenchOptions options;
  CLI::App app(
      "Backs the same segments up through the library and by a raw baseline, and "
      "compares them.",
      "backup_bench");
  app.add_option("--dir", options.dir, "Work directory (default: a temporary one)");
  app.add_option("--sizes", options.sizes, "Object sizes, e.g. 1KiB,64KiB")
      ->delimiter(',')
      ->transform(CLI::AsSizeValue(false))
      ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 30))
      ->capture_default_str();
  app.add_option("--streams", options.streams, "Stream counts, e.g. 1,2,4 (threads = streams)")
      ->delimiter(',')
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.add_option("--repeat", options.repeat,
                 "Rounds per case (each runs both sides, in alternating order); medians are shown")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  app.add_option("--mib", options.mibPerCase, "Data per case, in MiB")
      ->check(CLI::Range(1, 1 << 20))
      ->capture_default_str();
  app.add_option("--max-items", options.maxItems, "Most objects per case")
      ->check(CLI::Range(1, 10000000))
      ->capture_default_str();
  app.add_option("--side", options.side, "Run one side alone (for profiling)")
      ->check(CLI::IsMember({"both", "library", "baseline"}))
      ->capture_default_str();
  app.add_option("--faults", options.faults,
                 "Pipeline fault plan for both sides, e.g. 'flowWindow=1' (a pipeline that holds "
                 "each end-of-file until its commit is reported)");
  CLI11_PARSE(app, argc, argv);
  CUxError planError = OBJECTOPSAPI::PipelineFaults::Install(options.faults);
  if (planError.IsError()) {
    std::cerr << "backup_bench: --faults: " << planError.GetMessage() << "\n";
    return 2;
  }

  const bool temporary = options.dir.empty();
  const std::string dir = temporary ? objstore_bench::MakeBenchDir(
                                          objstore_bench::TemporaryParent("/tmp"), "objstore-bench")
                                    : options.dir;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (dir.empty() || error) {
    std::cerr << "backup_bench: cannot create a work directory\n";
    return 1;
  }
  setenv("OBJSTORE_SETTINGS_FILE", (dir + "/settings").c_str(), 1);
  objstore_host::RouteLogToStderr(-1);
  const int status = objstore_bench::Bench(options).run(dir);
  if (temporary) std::filesystem::remove_all(dir, error);
  return status;
}

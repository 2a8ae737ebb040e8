// jobs_bench: what a server that runs job after job keeps. It backs the same small workload up
// in one job after another, in one process, and prints the process's resident memory and the
// size of the stream registry after 1, 10, 100 and 1,000 jobs (or --jobs).
#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "BenchProcess.h"
#include "BenchWorkload.h"
#include "DirectoryDiskCache.h"
#include "HostLog.h"
#include "KaCriticalSectionLock.h"
#include "LibraryBackup.h"
#include "ObjStoreBackupInterface.h"

namespace {

size_t RegisteredStreams() {
  KaCriticalSectionLock lock(&ObjectStore::gStreamLock);
  return ObjectStore::gStreams.size();
}

bool IsReportedJob(uint32_t job) {
  for (uint32_t mark = 1; mark <= job; mark *= 10) {
    if (mark == job) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t jobs = 1000;
  uint32_t items = 100;
  uint32_t streams = 4;
  std::string parent = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  CLI::App app("Runs one small backup job after another in one process and reports what stays.",
               "jobs_bench");
  app.add_option("--jobs", jobs, "Jobs to run")
      ->check(CLI::Range(1, 1000000))
      ->capture_default_str();
  app.add_option("--items", items, "Objects of 1 KiB per job")
      ->check(CLI::Range(1, 1000000))
      ->capture_default_str();
  app.add_option("--streams", streams, "Streams (and sending threads) per job")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.add_option("--dir", parent, "Where the work directory goes (syncs are cheap in memory)")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  const std::string dir = objstore_bench::MakeBenchDir(parent, "objstore-jobs-bench");
  std::error_code error;
  if (dir.empty() || !std::filesystem::create_directories(dir + "/root", error)) {
    std::cerr << "jobs_bench: cannot create a work directory under " << parent << "\n";
    return 1;
  }
  setenv("OBJSTORE_SETTINGS_FILE", (dir + "/settings").c_str(), 1);
  objstore_host::RouteLogToStderr(-1);
  int status = 0;
  objstore_bench::BenchWorkload workload;
  std::string problem;
  if (!ObjectStore::initBackupInterace(dir + "/root") ||
      !objstore_bench::MakeWorkload(dir + "/cache", 1024, items, &workload, &problem)) {
    std::cerr << "jobs_bench: cannot set up: " << problem << "\n";
    status = 1;
  }
  ObjectStore::DirectoryDiskCache cache(dir + "/cache");
  std::cout << "| jobs | resident memory (KiB) | registered streams |\n|---|---|---|\n";
  for (uint32_t job = 1; status == 0 && job <= jobs; ++job) {
    objstore_bench::BenchRunOptions options;
    options.storeDir = dir + "/store";
    options.streams = streams;
    options.threads = streams;
    options.jobId = job;
    const objstore_bench::BenchRun run =
        objstore_bench::RunThroughLibrary(workload, cache, options);
    if (!run.error.empty() || run.committed != run.items) {
      std::cerr << "jobs_bench: job " << job << " failed: " << run.error << "\n";
      status = 1;
    }
    std::filesystem::remove_all(options.storeDir, error);
    if (IsReportedJob(job) || job == jobs) {
      std::cout << "| " << job << " | " << objstore_bench::ProcessStatusKib("VmRSS") << " | "
                << RegisteredStreams() << " |\n"
                << std::flush;
    }
  }
  std::filesystem::remove_all(dir, error);
  return status;
}

#include "Ingester.h"

#include <chrono>

#include "ErrorText.h"
#include "ObjectId.h"
#include "ScopedInterrupt.h"
#include "SegmentBuilder.h"
#include "ThreadGroup.h"

namespace objstore_host {

Ingester::Ingester(const IngestOptions& options, ProgressCounters* progress)
    : options_(options), progress_(progress) {}

IngestResult Ingester::run() {
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  result_ = IngestResult();
  std::vector<SourceEntry> entries;
  if (!SourceTree(options_.sourceDir).list(&entries, &result_.problems)) return result_;

  ObjectStore::DirectoryDiskCache cache(options_.cacheDir);
  std::string error;
  if (!cache.isOpen(&error)) {
    result_.problems.push_back("cannot open the disk cache [" + options_.cacheDir + "]: " + error);
    return result_;
  }
  uint64_t diskFullAfter = 0;
  if (!options_.faults.empty() &&
      ObjectStore::DirectoryDiskCache::ParseFaults(options_.faults, &diskFullAfter, &error)) {
    cache.writeBudget().setLimit(diskFullAfter);
  }
  if (progress_ != nullptr) progress_->totalItems = entries.size();
  queue_.assign(std::move(entries));
  RunOnThreads(options_.threads, [this, &cache] { ingestQueued(cache); });
  result_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result_;
}

void Ingester::ingestQueued(ObjectStore::DirectoryDiskCache& cache) {
  SourceEntry entry;
  while (!IsInterrupted(options_.interrupt) && queue_.pop(&entry)) ingestOne(cache, entry);
}

void Ingester::ingestOne(ObjectStore::DirectoryDiskCache& cache, const SourceEntry& entry) {
  const SegmentBuilder builder(options_.extentSize);
  std::vector<ObjectStore::SectionV> sections;
  std::string error;
  if (!builder.build(entry, &sections, &error)) {
    addProblem(error);
    return;
  }
  CUxError written = cache.writeSegment(ObjectGuid(entry.relativePath), sections, options_.sync);
  if (written.IsError()) {
    addProblem("cannot cache [" + entry.relativePath + "]: " + ErrorText(written));
    return;
  }
  uint64_t bytes = 0;
  for (const ObjectStore::SectionV& section : sections) {
    if (section.type == ObjectStore::kSectionFileData) bytes += section.data.size();
  }
  std::lock_guard<std::mutex> lock(resultMutex_);
  ++result_.objects;
  result_.bytes += bytes;
  if (entry.kind == ObjectKind::kFile) ++result_.files;
  if (entry.kind == ObjectKind::kSymlink) ++result_.symlinks;
  if (entry.kind == ObjectKind::kDirectory) ++result_.directories;
  if (progress_ != nullptr) {
    ++progress_->items;
    progress_->bytes += bytes;
  }
}

void Ingester::addProblem(const std::string& problem) {
  std::lock_guard<std::mutex> lock(resultMutex_);
  result_.problems.push_back(problem);
  if (progress_ != nullptr) ++progress_->failed;
}

}  // namespace objstore_host

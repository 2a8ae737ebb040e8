#include "StoreWalker.h"

#include <algorithm>

#include "BackupStoreReader.h"
#include "ErrorText.h"

namespace objstore_host {

using OBJECTOPSAPI::StoreItem;
using OBJECTOPSAPI::StoreSection;

namespace {

// "object <guid> [<path>]" as far as the item's header and metadata tell.
std::string DescribeObject(const StoreItem& item) {
  StoredCopy copy;
  std::string ignored;
  StoreWalker::ReadCopy(item, &copy, &ignored);
  if (copy.guid.empty()) return "an object whose header is unreadable";
  return "object " + copy.guid +
         (copy.metadata.path.empty() ? "" : " [" + copy.metadata.path + "]");
}

std::string ItemLine(const OBJECTOPSAPI::StoreStreamInfo& stream, const StoreItem& item) {
  return "[" + stream.dataPath + "] item " + std::to_string(item.index) + ", " +
         DescribeObject(item);
}

}  // namespace

StoreWalker::StoreWalker(const std::string& storeDir) : storeDir_(storeDir) {}

bool StoreWalker::walk(int64_t jobId, bool allJobs,
                       const std::function<void(const StoredCopy&)>& visit, WalkStats* stats,
                       bool readData) const {
  OBJECTOPSAPI::BackupStoreReader reader(storeDir_);
  std::vector<OBJECTOPSAPI::StoreRun> runs;
  CUxError error = allJobs ? reader.listRuns(&runs) : reader.listRunsOfJob(jobId, &runs);
  if (error.IsError()) {
    stats->problems.push_back("cannot list the store [" + storeDir_ + "]: " + ErrorText(error));
    return false;
  }
  std::stable_sort(runs.begin(), runs.end(),
                   [](const OBJECTOPSAPI::StoreRun& a, const OBJECTOPSAPI::StoreRun& b) {
                     return a.manifest.startTime < b.manifest.startTime;
                   });
  for (const OBJECTOPSAPI::StoreRun& run : runs) {
    if (stopped()) break;
    ++stats->runs;
    stats->problems.insert(stats->problems.end(), run.problems.begin(), run.problems.end());
    for (const OBJECTOPSAPI::StoreStreamInfo& stream : run.streams)
      walkStream(stream, visit, stats, readData);
  }
  return true;
}

void StoreWalker::walkStream(const OBJECTOPSAPI::StoreStreamInfo& stream,
                             const std::function<void(const StoredCopy&)>& visit, WalkStats* stats,
                             bool readData) const {
  OBJECTOPSAPI::StoreStreamReader reader;
  CUxError error = reader.open(stream);
  StoreItem item;
  bool more = false;
  // Uncommitted items, in case the stream's commit records prove some of them committed.
  std::vector<std::pair<uint64_t, std::string>> uncommitted;
  if (!error.IsError()) error = reader.next(&item, &more, readData);
  for (; !error.IsError() && more && !stopped(); error = reader.next(&item, &more, readData)) {
    if (!item.damage.empty()) {
      ++stats->damagedCopies;
      stats->problems.push_back(ItemLine(stream, item) + (item.committed ? "" : " (uncommitted)") +
                                ": " + item.damage);
      continue;
    }
    if (!item.committed) {
      ++stats->uncommittedCopies;
      uncommitted.emplace_back(item.index, ItemLine(stream, item));
      continue;
    }
    if (!item.success) {
      ++stats->failedCopies;
      continue;
    }
    StoredCopy copy;
    std::string problem;
    if (!ReadCopy(item, &copy, &problem)) {
      stats->problems.push_back(ItemLine(stream, item) + ": " + problem);
      continue;
    }
    copy.file = stream.dataPath;
    ++stats->copies;
    visit(copy);
  }
  if (error.IsError()) {
    stats->problems.push_back("cannot read [" + stream.dataPath + "]: " + ErrorText(error));
    return;
  }
  stats->problems.insert(stats->problems.end(), reader.problems().begin(), reader.problems().end());
  for (const auto& entry : uncommitted) {
    if (entry.first < reader.provenCommitted()) {
      stats->problems.push_back(entry.second +
                                ": committed, but the committed file no longer says so");
    }
  }
  if (reader.incompleteTail()) ++stats->incompleteStreams;
}

bool StoreWalker::ReadCopy(const StoreItem& item, StoredCopy* copy, std::string* error) {
  copy->guid = item.name;
  const bool hasHeader = !item.name.empty();
  bool hasMetadata = false;
  uint64_t dataBytes = 0;
  for (const StoreSection& section : item.sections) {
    if (section.type == OBJECTOPSAPI::kStoreRecordMetaData &&
        section.kind == ObjectMetadata::kSectionKind && !hasMetadata) {
      if (!copy->metadata.parse(section.bytes, error)) return false;
      hasMetadata = true;
    } else if (section.type == OBJECTOPSAPI::kStoreRecordData) {
      dataBytes += section.length;
    }
  }
  if (!hasHeader || !hasMetadata) {
    *error = hasHeader ? "no object metadata" : "no readable stream header";
    return false;
  }
  if (dataBytes != copy->metadata.size) {
    *error = "data of " + std::to_string(dataBytes) + " bytes where the metadata says " +
             std::to_string(copy->metadata.size);
    return false;
  }
  copy->item = &item;
  return true;
}

}  // namespace objstore_host

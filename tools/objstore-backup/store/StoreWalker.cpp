#include "StoreWalker.h"

#include <algorithm>

#include "BackupStoreReader.h"
#include "ErrorText.h"
#include "StoreFormat.h"
#include "StoreLeftovers.h"

namespace objstore_host {

using OBJECTOPSAPI::StoreItem;
using OBJECTOPSAPI::StoreSection;

namespace {

// Lines kept of copies with another writer's metadata: a whole store of them would otherwise
// fill the summary.
const uint64_t kForeignLinesKept = 20;

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

// Whether `path`, under `storeDir`, lies in a run of job `jobId`.
bool InJob(const std::string& path, const std::string& storeDir, int64_t jobId) {
  const std::string rest = path.substr(storeDir.size() + 1);
  int64_t pathJob = 0;
  return OBJECTOPSAPI::ParseStoreRunDirName(rest.substr(0, rest.find('/')), &pathJob) &&
         pathJob == jobId;
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
  std::vector<std::string> leftovers;
  if (!OBJECTOPSAPI::StoreLeftovers::Find(storeDir_, &leftovers).IsError()) {
    for (const std::string& path : leftovers) {
      if (allJobs || InJob(path, storeDir_, jobId)) stats->leftovers.push_back(path);
    }
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
      walkStream(run.manifest.jobId, stream, visit, stats, readData);
  }
  return true;
}

void StoreWalker::walkStream(int64_t jobId, const OBJECTOPSAPI::StoreStreamInfo& stream,
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
      if (!copy.foreignMetadata) {
        stats->problems.push_back(ItemLine(stream, item) + ": " + problem);
      } else if (++stats->foreignCopies <= kForeignLinesKept) {
        stats->foreignLines.push_back(ItemLine(stream, item) + ": " + problem);
      }
      continue;
    }
    copy.file = stream.dataPath;
    copy.jobId = jobId;
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
  copy->foreignMetadata = false;
  const bool hasHeader = !item.name.empty();
  bool hasMetadata = false;
  bool foreign = false;
  uint64_t dataBytes = 0;
  for (const StoreSection& section : item.sections) {
    if (section.type == OBJECTOPSAPI::kStoreRecordMetaData && !hasMetadata) {
      hasMetadata = true;
      foreign = section.kind != ObjectMetadata::kSectionKind ||
                !ObjectMetadata::IsThisFormat(section.bytes);
      if (!foreign && !copy->metadata.parse(section.bytes, error)) return false;
    } else if (section.type == OBJECTOPSAPI::kStoreRecordData) {
      dataBytes += section.length;
    }
  }
  if (!hasHeader || !hasMetadata) {
    *error = hasHeader ? "no object metadata" : "no readable stream header";
    return false;
  }
  if (foreign) {
    copy->foreignMetadata = true;
    *error =
        "its metadata is not in this program's format and cannot be read; its records, "
        "header and sizes are proven";
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

#include "StoreWalker.h"

#include <algorithm>
#include <cstring>

#include "BackupStoreReader.h"
#include "CXFileHeader.h"
#include "ErrorText.h"

namespace objstore_host {

using OBJECTOPSAPI::StoreItem;
using OBJECTOPSAPI::StoreSection;

namespace {

bool ReadHeaderIds(const std::string& bytes, std::string* guid, std::string* sourceId) {
  const size_t offset = OBJECTOPSAPI::kCXFileHeaderFilenameOffset;
  const size_t idChars = OBJECTOPSAPI::kCXFileHeaderIdChars;
  if (bytes.size() < sizeof(OBJECTOPSAPI::CXFileHeader) ||
      bytes[OBJECTOPSAPI::kCXFileHeaderCommaOffset] != ',') {
    return false;
  }
  *guid = bytes.substr(offset, idChars);
  const char* second = bytes.data() + offset + idChars + 1;
  *sourceId = std::string(second, strnlen(second, idChars));
  return true;
}

}  // namespace

StoreWalker::StoreWalker(const std::string& storeDir) : storeDir_(storeDir) {}

bool StoreWalker::walk(int64_t jobId, bool allJobs,
                       const std::function<void(const StoredCopy&)>& visit,
                       WalkStats* stats) const {
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
    ++stats->runs;
    for (const OBJECTOPSAPI::StoreStreamInfo& stream : run.streams)
      walkStream(stream, visit, stats);
  }
  return true;
}

void StoreWalker::walkStream(const OBJECTOPSAPI::StoreStreamInfo& stream,
                             const std::function<void(const StoredCopy&)>& visit,
                             WalkStats* stats) const {
  OBJECTOPSAPI::StoreStreamReader reader;
  CUxError error = reader.open(stream);
  StoreItem item;
  bool more = false;
  if (!error.IsError()) error = reader.next(&item, &more);
  for (; !error.IsError() && more; error = reader.next(&item, &more)) {
    if (!item.committed) {
      ++stats->uncommittedCopies;
      continue;
    }
    if (!item.success) {
      ++stats->failedCopies;
      continue;
    }
    StoredCopy copy;
    std::string problem;
    if (!ReadCopy(item, &copy, &problem)) {
      stats->problems.push_back(stream.dataPath + " item " + std::to_string(item.index) + ": " +
                                problem);
      continue;
    }
    ++stats->copies;
    visit(copy);
  }
  if (error.IsError()) {
    stats->problems.push_back("cannot read [" + stream.dataPath + "]: " + ErrorText(error));
  }
  if (reader.incompleteTail()) ++stats->incompleteStreams;
}

bool StoreWalker::ReadCopy(const StoreItem& item, StoredCopy* copy, std::string* error) {
  bool hasHeader = false;
  bool hasMetadata = false;
  uint64_t dataBytes = 0;
  for (const StoreSection& section : item.sections) {
    if (section.type == OBJECTOPSAPI::kStoreRecordHeader && !hasHeader) {
      hasHeader = ReadHeaderIds(section.bytes, &copy->guid, &copy->sourceId);
    } else if (section.type == OBJECTOPSAPI::kStoreRecordMetaData &&
               section.kind == ObjectMetadata::kSectionKind && !hasMetadata) {
      if (!copy->metadata.parse(section.bytes, error)) return false;
      hasMetadata = true;
    } else if (section.type == OBJECTOPSAPI::kStoreRecordData) {
      dataBytes += section.bytes.size();
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

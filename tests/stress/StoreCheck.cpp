#include "StoreCheck.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>

#include "BackupStoreReader.h"
#include "Ledger.h"
#include "SectionTypes.h"
#include "StoreStreamReader.h"
#include "World.h"

namespace stress {

namespace {

using OBJECTOPSAPI::StoreItem;
using OBJECTOPSAPI::StoreSection;

// One string per item's contents: the header, each metadata section with its kind, and the data
// as one run of bytes (the pipeline may split or join data sections; a reader concatenates them).
std::string Contents(const std::vector<ObjectStore::SectionV>& sections) {
  std::string header, meta, data;
  for (const ObjectStore::SectionV& section : sections) {
    const std::string bytes(section.data.begin(), section.data.end());
    if (section.type == ObjectStore::kSectionStreamHeader) header += bytes;
    if (section.type == ObjectStore::kSectionMetaData) {
      meta +=
          std::to_string(section.metaDataType) + ":" + std::to_string(bytes.size()) + ":" + bytes;
    }
    if (section.type == ObjectStore::kSectionFileData) data += bytes;
  }
  return std::to_string(header.size()) + ":" + header + meta + "|" + data;
}

std::string Contents(const StoreItem& item) {
  std::string header, meta, data;
  for (const StoreSection& section : item.sections) {
    if (section.type == OBJECTOPSAPI::kStoreRecordHeader) header += section.bytes;
    if (section.type == OBJECTOPSAPI::kStoreRecordMetaData) {
      meta += std::to_string(section.kind) + ":" + std::to_string(section.bytes.size()) + ":" +
              section.bytes;
    }
    if (section.type == OBJECTOPSAPI::kStoreRecordData) data += section.bytes;
  }
  return std::to_string(header.size()) + ":" + header + meta + "|" + data;
}

bool Whole(const StoreItem& item) {
  const char kind = item.name.empty() ? World::kMissing : item.name.back();
  if (!item.success || !item.damage.empty()) return false;
  if (kind == World::kMissing || kind == World::kDamaged) return false;
  return Contents(item) == Contents(World::SectionsOf(item.name));
}

// Run directories are named <jobId>.<micros>-<pid>-<counter>. A crashed child's runs are not
// this process's: their aFile IDs may repeat ours, since the child counted from the same point.
bool OwnRun(const std::string& dir) {
  return dir.find("-" + std::to_string(getpid()) + "-", dir.rfind('/') + 1) != std::string::npos;
}

}  // namespace

uint64_t StoreCheck::durableCount(uint32_t aFileId) {
  std::string& path = committedPaths_[aFileId];
  const std::string file = "stream-" + std::to_string(aFileId) + ".committed";
  if (path.empty()) {
    DIR* dir = opendir(storeDir_.c_str());
    for (dirent* entry = dir ? readdir(dir) : nullptr; entry != nullptr && path.empty();
         entry = readdir(dir)) {
      const std::string candidate = storeDir_ + "/" + entry->d_name + "/" + file;
      if (entry->d_name[0] != '.' && OwnRun(entry->d_name) &&
          access(candidate.c_str(), F_OK) == 0) {
        path = candidate;
      }
    }
    if (dir != nullptr) closedir(dir);
  }
  uint64_t count = 0;
  std::ifstream in(path);
  in >> count;
  return count;
}

void StoreCheck::noteCommitted(uint32_t aFileId, const std::list<std::string>& items) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t durable = durableCount(aFileId);
  for (const std::string& name : items) reports_[aFileId].push_back(Report{name, durable});
}

void StoreCheck::readCopies(const OBJECTOPSAPI::StoreStreamInfo& stream,
                            std::map<std::string, std::vector<Copy>>* copies, Ledger& ledger) {
  OBJECTOPSAPI::StoreStreamReader reader;
  CUxError error = reader.open(stream);
  StoreItem item;
  for (bool more = true; !error.IsError() && more;) {
    error = reader.next(&item, &more);
    if (error.IsError() || !more) break;
    auto found = copies->find(item.name);
    if (found != copies->end()) found->second.push_back(Copy{item.index, Whole(item)});
  }
  if (error.IsError()) {
    ledger.violation("store: cannot read " + stream.dataPath + ": " + error.GetMessage());
  }
}

// Reports of one name come in the order of their counts: each takes the first whole copy not
// yet taken below its count.
void StoreCheck::Match(const std::vector<Report>& reports,
                       std::map<std::string, std::vector<Copy>>& copies, uint32_t aFileId,
                       Ledger& ledger) {
  for (const Report& report : reports) {
    std::vector<Copy>& ofName = copies[report.name];
    auto copy = ofName.begin();
    while (copy != ofName.end() && !(copy->whole && copy->index < report.durable)) ++copy;
    if (copy != ofName.end()) {
      ofName.erase(copy);
      continue;
    }
    std::string seen;
    for (const Copy& other : ofName) {
      seen += " " + std::to_string(other.index) + (other.whole ? "" : " (not whole)");
    }
    ledger.violation(report.name + ": reported committed on stream " + std::to_string(aFileId) +
                     " when it had committed " + std::to_string(report.durable) +
                     " items, but the store holds no whole copy of it among them (copies at" +
                     (seen.empty() ? std::string(" none") : seen) + ")");
  }
}

void StoreCheck::check(Ledger& ledger) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<OBJECTOPSAPI::StoreRun> runs;
  CUxError error = OBJECTOPSAPI::BackupStoreReader(storeDir_).listRuns(&runs);
  if (error.IsError()) {
    ledger.violation("store: cannot list " + storeDir_ + ": " + error.GetMessage());
    return;
  }
  for (const OBJECTOPSAPI::StoreRun& run : runs) {
    if (!OwnRun(run.dir)) continue;
    for (const OBJECTOPSAPI::StoreStreamInfo& stream : run.streams) {
      auto reports = reports_.find(stream.aFileId);
      if (reports == reports_.end()) continue;
      std::map<std::string, std::vector<Copy>> copies;
      for (const Report& report : reports->second) copies[report.name];
      readCopies(stream, &copies, ledger);
      Match(reports->second, copies, stream.aFileId, ledger);
      checked_ += reports->second.size();
      reports_.erase(reports);
    }
  }
  for (const auto& left : reports_) {
    ledger.violation("store: stream " + std::to_string(left.first) + " had " +
                     std::to_string(left.second.size()) +
                     " items reported committed, and the store has no such stream");
  }
  reports_.clear();
}

}  // namespace stress

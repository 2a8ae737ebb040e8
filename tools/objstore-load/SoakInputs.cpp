#include "SoakInputs.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "BackupStoreReader.h"
#include "ObjectContent.h"
#include "ObjectMetadata.h"
#include "StoreStreamReader.h"

namespace objstore_load {

namespace fs = std::filesystem;

namespace {

std::string Where(const OBJECTOPSAPI::StoreStreamInfo& stream,
                  const OBJECTOPSAPI::StoreItem& item) {
  return stream.dataPath + " item " + std::to_string(item.index);
}

// Turns one committed, successful item into a copy; false (with a problem) when it cannot.
bool CopyOfItem(const OBJECTOPSAPI::StoreStreamInfo& stream, const OBJECTOPSAPI::StoreItem& item,
                StoredCopy* copy, std::string* problem) {
  std::string data;
  bool haveMetadata = false;
  for (const OBJECTOPSAPI::StoreSection& section : item.sections) {
    if (section.type == OBJECTOPSAPI::kStoreRecordData) data += section.bytes;
    if (section.type != OBJECTOPSAPI::kStoreRecordMetaData ||
        section.kind != objstore_host::ObjectMetadata::kSectionKind)
      continue;
    objstore_host::ObjectMetadata metadata;
    std::string why;
    if (!metadata.parse(section.bytes, &why)) {
      *problem = Where(stream, item) + ": unreadable metadata: " + why;
      return false;
    }
    copy->key = metadata.path;
    copy->version = metadata.version;
    haveMetadata = true;
  }
  if (!haveMetadata) {
    *problem = Where(stream, item) + " has no metadata";
    return false;
  }
  copy->size = data.size();
  copy->digest = ContentDigest(data);
  copy->aFileId = stream.aFileId;
  copy->index = item.index;
  return true;
}

void ReadStream(const OBJECTOPSAPI::StoreRun& run, size_t streamIndex, SoakChecker* checker) {
  const OBJECTOPSAPI::StoreStreamInfo& stream = run.streams[streamIndex];
  OBJECTOPSAPI::StoreStreamReader reader;
  if (reader.open(stream).IsError()) {
    checker->addProblem("cannot open " + stream.dataPath);
    return;
  }
  OBJECTOPSAPI::StoreItem item;
  bool more = false;
  while (true) {
    if (reader.next(&item, &more).IsError()) {
      checker->addProblem("cannot read " + stream.dataPath);
      break;
    }
    if (!more) break;
    if (!item.damage.empty()) checker->addProblem(Where(stream, item) + ": " + item.damage);
    if (!item.success && item.damage.empty())
      checker->addFailedItem({run.manifest.runId, stream.aFileId, item.index});
    if (!item.committed || !item.success || !item.damage.empty()) continue;
    StoredCopy copy;
    copy.jobId = run.manifest.jobId;
    copy.runId = run.manifest.runId;
    copy.pid = run.manifest.pid;
    copy.streamIndex = static_cast<int64_t>(streamIndex);
    std::string problem;
    if (CopyOfItem(stream, item, &copy, &problem)) {
      checker->addStoredCopy(copy);
    } else {
      checker->addProblem(problem);
    }
  }
  for (const std::string& problem : reader.problems()) checker->addProblem(problem);
}

}  // namespace

bool ReadPutLog(const std::string& path, SoakChecker* checker, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the log " + path;
    return false;
  }
  std::string line;
  uint64_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    PutRecord record;
    if (ParsePutRecord(line, &record)) {
      checker->addPut(record);
    } else {
      checker->addProblem(path + " line " + std::to_string(number) + " is no PUT record");
    }
  }
  return true;
}

bool ReadStoreCopies(const std::string& storeDir, SoakChecker* checker, std::string* error) {
  OBJECTOPSAPI::BackupStoreReader store(storeDir);
  std::vector<OBJECTOPSAPI::StoreRun> runs;
  if (store.listRuns(&runs).IsError()) {
    *error = "cannot list the store " + storeDir;
    return false;
  }
  for (const OBJECTOPSAPI::StoreRun& run : runs) {
    for (const std::string& problem : run.problems) checker->addProblem(problem);
    for (size_t i = 0; i < run.streams.size(); ++i) ReadStream(run, i, checker);
  }
  return true;
}

bool ReadRestoredTree(const std::string& dir, SoakChecker* checker, std::string* error) {
  std::error_code code;
  if (!fs::exists(dir, code)) return true;
  fs::recursive_directory_iterator it(dir, code), end;
  for (; !code && it != end; it.increment(code)) {
    const fs::path path = it->path();
    if (it->is_directory(code)) continue;
    const std::string key = path.lexically_relative(dir).generic_string();
    if (!it->is_regular_file(code) || it->is_symlink(code)) {
      checker->addProblem("the restored tree holds " + key + ", which is no regular file");
      continue;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    checker->addRestoredFile({key, bytes.size(), ContentDigest(bytes)});
  }
  if (code) {
    *error = "cannot walk " + dir + ": " + code.message();
    return false;
  }
  return true;
}

}  // namespace objstore_load

// A small host of the object-store backup library, built against the installed package: the part
// an object-store server plays, over the package's stand-in disk cache and pipeline.
//
//   1. Fills a disk cache with 300 objects, one segment each: a stream header naming the object,
//      a metadata section, and the content in data sections of at most 4 KiB.
//   2. Backs them up in one job of three streams from four threads, and sends again what comes
//      back in failed lists (the stand-in pipeline is told to fail a few sends).
//   3. Ends the job and reads the backup store back: every object must be there, committed and
//      byte for byte the same.
//
// Usage: objstore-example-host [WORK_DIR]. WORK_DIR must not exist yet; without it a temporary
// directory is used and removed at the end. Exit status 0 when every object came back.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BackupStoreReader.h"        // stand-in: lists the runs of a job in the store
#include "DirectoryDiskCache.h"       // stand-in: the disk cache
#include "LogWriter.h"                // the log writer the library writes to
#include "MakeCXFileHeader.h"         // stand-in: builds stream headers
#include "ObjStoreBackupInterface.h"  // the library
#include "PipelineOptions.h"          // stand-in: where the backup store lives
#include "StoreStreamReader.h"        // stand-in: reads a stream's items back
#include "testing/PipelineFaults.h"   // stand-in: failures on demand

namespace {

const int kObjects = 300;
const uint32_t kStreams = 3;
const int kThreads = 4;
const int kResendRounds = 3;
const int64_t kJobId = 42;
const int32_t kAppId = 1;

// A 40-character hex identifier derived from `seed` (any digest will do). The library chooses an
// object's stream from the second identifier of its header, and one of 32 characters or fewer by
// its first character alone: never name sources "src-1", "src-2", ...
std::string HexId(const std::string& seed) {
  uint64_t state = 1469598103934665603ull;
  for (unsigned char c : seed) state = (state ^ c) * 1099511628211ull;
  std::string id;
  while (id.size() < 40) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    char digits[17];
    std::snprintf(digits, sizeof(digits), "%016llx",
                  static_cast<unsigned long long>(z ^ (z >> 31)));
    id += digits;
  }
  return id.substr(0, 40);
}

// 0 to 12 KiB of bytes that tell the objects apart.
std::string Content(int object) {
  std::string bytes(static_cast<size_t>(object) * 7919 % 12289, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(object * 31 + i * 7);
  return bytes;
}

ObjectStore::SectionV Section(int32_t type, const void* bytes, size_t size) {
  ObjectStore::SectionV section;
  section.type = type;
  section.data.assign(static_cast<const char*>(bytes), static_cast<const char*>(bytes) + size);
  return section;
}

// The stream header (first identifier: the object's GUID, which also names its segment), one
// metadata section, then the content in data sections of at most 4 KiB.
std::vector<ObjectStore::SectionV> Segment(const std::string& guid, const std::string& content) {
  std::vector<ObjectStore::SectionV> sections;
  OBJECTOPSAPI::CXFileHeader header = OBJECTOPSAPI::MakeCXFileHeader(guid, HexId("src:" + guid));
  sections.push_back(Section(ObjectStore::kSectionStreamHeader, &header, sizeof(header)));
  const std::string meta = "size=" + std::to_string(content.size());
  sections.push_back(Section(ObjectStore::kSectionMetaData, meta.data(), meta.size()));
  sections.back().metaDataType = 1;  // the kind of metadata: the pipeline stores it with it
  for (size_t at = 0; at < content.size(); at += 4096) {
    const size_t size = std::min<size_t>(4096, content.size() - at);
    sections.push_back(Section(ObjectStore::kSectionFileData, content.data() + at, size));
  }
  return sections;
}

// Sends the library's log into the host's: here errors and warnings, to standard error.
class HostLog : public CLogWriterInterface {
 public:
  int getLevel() override { return -1; }
  void writeV(int level, const char* /*function*/, int /*line*/, int, int, const char* format,
              va_list args) override {
    std::fprintf(stderr, "objstorebackup[%d]: ", level);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
  }
};

// The commit callback's record. It runs on a pipeline thread while the library holds its stream
// lock, so it only takes a mutex of its own and notes the names.
struct Committed {
  std::mutex mutex;
  std::set<std::string> names;
};

void OnCommit(uint32_t /*aFileId*/, std::list<std::string> items, void* context) {
  Committed* committed = static_cast<Committed*>(context);
  std::lock_guard<std::mutex> lock(committed->mutex);
  committed->names.insert(items.begin(), items.end());
}

// Sends `names` from kThreads threads and returns what is to be sent again: every failed list,
// and the items whose sendItem failed without handing them back.
std::set<std::string> SendAll(ObjectStore::BackupInterface& controller,
                              const std::vector<std::string>& names, ObjectStore::DiskCache& cache,
                              std::vector<int>* perStream) {
  std::mutex mutex;
  size_t next = 0;
  std::set<std::string> again;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ObjectStore::DiskCacheContext context;
      std::list<std::string> failed;  // the library only appends to it
      for (;;) {
        std::string name;
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (next == names.size()) break;
          name = names[next++];
        }
        int stream = -1;
        CUxError error =
            controller.sendItem(name.c_str(), failed, nullptr, &stream, cache, context);
        std::lock_guard<std::mutex> lock(mutex);
        if (error.IsError()) again.insert(name);
        if (!error.IsError()) ++(*perStream)[stream];
      }
      std::lock_guard<std::mutex> lock(mutex);
      again.insert(failed.begin(), failed.end());
    });
  }
  for (std::thread& thread : threads) thread.join();
  return again;
}

// Reads the job back from the store: the content of every committed, intact copy by object name.
// Data sections are stored in the order sent, without offsets: concatenated, they are the object.
bool ReadBack(const std::string& storeDir, std::map<std::string, std::string>* restored) {
  std::vector<OBJECTOPSAPI::StoreRun> runs;
  CUxError error = OBJECTOPSAPI::BackupStoreReader(storeDir).listRunsOfJob(kJobId, &runs);
  for (const OBJECTOPSAPI::StoreRun& run : runs) {
    for (const OBJECTOPSAPI::StoreStreamInfo& stream : run.streams) {
      OBJECTOPSAPI::StoreStreamReader reader;
      error = reader.open(stream);
      for (bool more = true; !error.IsError() && more;) {
        OBJECTOPSAPI::StoreItem item;
        error = reader.next(&item, &more);
        if (!more || !item.committed || !item.success || !item.damage.empty()) continue;
        std::string content;
        for (const OBJECTOPSAPI::StoreSection& section : item.sections)
          if (section.type == OBJECTOPSAPI::kStoreRecordData) content += section.bytes;
        (*restored)[item.name] = content;  // of several copies, the one sent last
      }
      if (error.IsError() || !reader.problems().empty()) return false;
    }
  }
  return !error.IsError();
}

// The whole run in `work`: 0 when every object came back.
int BackUpAndReadBack(const std::filesystem::path& work) {
  std::filesystem::create_directories(work / "server");
  g_ptrLogWriter.reset(new HostLog);
  OBJECTOPSAPI::PipelineOptions store;  // the stand-in pipeline's store, set in code
  store.storeDir = (work / "store").string();
  OBJECTOPSAPI::PipelineOptions::Override(store);
  OBJECTOPSAPI::PipelineFaults::Install("sendUserBufData=40,sendHeader=150");
  if (!ObjectStore::initBackupInterace((work / "server").string())) return 1;

  ObjectStore::DirectoryDiskCache cache((work / "cache").string());
  std::vector<std::string> names;
  for (int i = 0; i < kObjects; ++i) {
    names.push_back(HexId("object-" + std::to_string(i)));
    if (cache.writeSegment(names.back(), Segment(names.back(), Content(i))).IsError()) return 1;
  }

  OBJECTOPSAPI::JobInfoPtr job(new OBJECTOPSAPI::JobInfo);  // one per getController call
  job->numStreams = kStreams;
  job->jobId = kJobId;
  job->appId = kAppId;
  ObjectStore::BackupInterfacePtr controller;
  CUxError error = ObjectStore::BackupInterface::getController(job, controller, false);
  if (error.IsError()) return std::fprintf(stderr, "%s\n", error.AsString().c_str()), 1;
  Committed committed;
  controller->setCallBack(&OnCommit, &committed);  // before the first sendItem

  std::vector<int> perStream(kStreams, 0);
  std::set<std::string> pending = SendAll(*controller, names, cache, &perStream);
  for (int round = 1; round <= kResendRounds && !pending.empty(); ++round) {
    std::vector<std::string> again;
    {
      std::lock_guard<std::mutex> lock(committed.mutex);
      for (const std::string& name : pending)
        if (committed.names.count(name) == 0) again.push_back(name);
    }
    std::printf("round %d: %zu objects came back and are sent again\n", round, again.size());
    pending = SendAll(*controller, again, cache, &perStream);
  }
  std::list<std::string> notCommitted;
  error = controller->endBackup(notCommitted, true);  // waits for the last commits
  if (error.IsError() || !pending.empty()) {
    std::fprintf(stderr, "%zu not committed, %zu not sent: %s\n", notCommitted.size(),
                 pending.size(), error.AsString().c_str());
    return 1;
  }

  std::map<std::string, std::string> restored;
  if (!ReadBack(store.storeDir, &restored)) return std::fprintf(stderr, "store damaged\n"), 1;
  int intact = 0;
  for (int i = 0; i < kObjects; ++i)
    intact += restored.count(names[i]) && restored[names[i]] == Content(i);
  std::lock_guard<std::mutex> lock(committed.mutex);
  std::printf("%d objects on %u streams (%d/%d/%d sends), %zu committed, %d read back intact\n",
              kObjects, kStreams, perStream[0], perStream[1], perStream[2], committed.names.size(),
              intact);
  return intact == kObjects ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const bool temporary = argc < 2;
  const fs::path work =
      temporary ? fs::temp_directory_path() / ("objstore-host-" + std::to_string(getpid()))
                : fs::path(argv[1]);
  if (fs::exists(work)) {
    std::fprintf(stderr, "%s exists already\n", work.c_str());
    return 2;
  }
  const int status = BackUpAndReadBack(work);
  if (temporary) fs::remove_all(work);
  return status;
}

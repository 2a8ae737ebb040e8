// One backup job as the server runs it: objects into the disk cache, the controller and its
// callback, sends from several threads with failed lists sent again, the end with its commit
// wait, and the committed segments out of the cache.
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "LogWriter.h"
#include "MakeCXFileHeader.h"
#include "PipelineOptions.h"
#include "server.h"
#include "testing/PipelineFaults.h"

namespace server {

namespace {

const int kResendRounds = 3;

// A 40-character hex identifier derived from `seed` (any digest will do).
std::string HexId(const std::string& seed) {
  uint64_t state = 1469598103934665603ull;
  for (unsigned char c : seed) state = (state ^ c) * 1099511628211ull;
  std::string id;
  while (id.size() < 40) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    char digits[17];
    std::snprintf(digits, sizeof(digits), "%016llx", (unsigned long long)(z ^ (z >> 31)));
    id += digits;
  }
  return id.substr(0, 40);
}

ObjectStore::SectionV Section(int32_t type, const void* bytes, size_t size) {
  ObjectStore::SectionV section;
  section.type = type;
  section.data.assign(static_cast<const char*>(bytes), static_cast<const char*>(bytes) + size);
  return section;
}

// The header names the object by its GUID and chooses its stream by a 40-character digest of
// its source: an identifier of 32 characters or fewer is judged by its first character alone,
// and every object would go to one stream. Then the content, in data sections of at most 4 KiB.
std::vector<ObjectStore::SectionV> Segment(const std::string& guid, size_t size) {
  OBJECTOPSAPI::CXFileHeader header = OBJECTOPSAPI::MakeCXFileHeader(guid, HexId("src:" + guid));
  std::vector<ObjectStore::SectionV> sections = {
      Section(ObjectStore::kSectionStreamHeader, &header, sizeof(header))};
  const std::string content(size, guid[size % guid.size()]);
  for (size_t at = 0; at < size; at += 4096) {
    const size_t length = std::min<size_t>(4096, size - at);
    sections.push_back(Section(ObjectStore::kSectionFileData, content.data() + at, length));
  }
  return sections;
}

// Sends the library's log into the server's log file (errors and INFO lines).
class FileLog : public CLogWriterInterface {
 public:
  FileLog(const std::filesystem::path& file, const char* process)
      : file_(std::fopen(file.c_str(), "a")), process_(process) {}
  int getLevel() override { return file_ != nullptr ? 1 : -2; }
  void writeV(int level, const char*, int, int, int, const char* format, va_list args) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(file_, "%s[%d]: ", process_, level);
    std::vfprintf(file_, format, args);
    std::fputc('\n', file_);
    std::fflush(file_);
  }

 private:
  std::mutex mutex_;
  std::FILE* file_;
  const char* process_;
};

// A failed send, and an exception that the library let pass after cleaning up, both give the
// item back: the stream's uncommitted items are in `failed`, and this one is still ours.
bool SendOne(ObjectStore::BackupInterface& controller, const std::string& guid,
             std::list<std::string>& failed, ObjectStore::DiskCache& cache, int* stream) {
  ObjectStore::DiskCacheContext context;
  try {
    return !controller.sendItem(guid.c_str(), failed, nullptr, stream, cache, context).IsError();
  } catch (const std::exception&) {
    return false;
  }
}

// Sends `names` from kSendThreads threads; returns what came back to be sent again.
std::set<std::string> SendOnThreads(ObjectStore::BackupInterface& controller,
                                    const std::vector<std::string>& names,
                                    ObjectStore::DiskCache& cache, SendTally* tally) {
  std::mutex mutex;
  size_t next = 0;
  std::set<std::string> again;
  std::vector<std::thread> threads;
  for (int t = 0; t < kSendThreads; ++t) {
    threads.emplace_back([&] {
      std::list<std::string> failed;  // the library only appends to it
      for (;;) {
        std::unique_lock<std::mutex> lock(mutex);
        if (next == names.size()) break;
        const std::string guid = names[next++];
        lock.unlock();
        int stream = -1;
        const bool sent = SendOne(controller, guid, failed, cache, &stream);
        lock.lock();
        ++tally->sent;
        if (sent) ++tally->perStream[stream];
        if (!sent) again.insert(guid);
      }
      std::lock_guard<std::mutex> lock(mutex);
      again.insert(failed.begin(), failed.end());
    });
  }
  for (std::thread& thread : threads) thread.join();
  return again;
}

}  // namespace

std::vector<JobPlan> AllJobs() {
  return {kJobsOfA[0], kJobsOfA[1], kJobsOfA[2], kJobOfB, kKilledJob, kNextJobOfA};
}

std::string ObjectGuid(const JobPlan& job, int index) {
  const std::string hex = HexId(std::to_string(job.jobId) + "/" + std::to_string(index));
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

std::vector<std::string> WriteObjects(const JobPlan& job, ObjectStore::DirectoryDiskCache& cache,
                                      std::string* error) {
  std::vector<std::string> names;
  for (int i = 0; i < job.objects && error->empty(); ++i) {
    names.push_back(ObjectGuid(job, i));
    CUxError written = cache.writeSegment(names.back(), Segment(names.back(), i * 997 % 9000));
    if (written.IsError()) *error = "cannot write a segment: " + written.AsString();
  }
  return names;
}

WorkDirs::WorkDirs(const std::filesystem::path& work)
    : base(work / "server"),
      root(base / "OBJECTSTORE"),
      store(work / "store"),
      record(work / "committed-guids"),
      log(work / "server.log") {}

std::filesystem::path WorkDirs::cache(int32_t appId) const {
  return base.parent_path() / ("cache-" + std::to_string(appId));
}

bool SetUpServer(const WorkDirs& dirs, const char* process, const std::string& faults,
                 uint64_t commitItems) {
  g_ptrLogWriter.reset(new FileLog(dirs.log, process));  // before any other thread starts
  OBJECTOPSAPI::PipelineOptions options;
  options.storeDir = dirs.store.string();
  options.commitItems = commitItems;
  OBJECTOPSAPI::PipelineOptions::Override(options);
  if (OBJECTOPSAPI::PipelineFaults::Install(faults).IsError()) return false;
  std::filesystem::create_directories(dirs.base);
  return ObjectStore::initBackupInterace(dirs.base.string());
}

std::string StartJob(const JobPlan& job, bool isRestartThread, CommitRecord& record,
                     ObjectStore::BackupInterfacePtr* controller) {
  OBJECTOPSAPI::JobInfoPtr info(new OBJECTOPSAPI::JobInfo);  // one per call: the call writes it
  info->numStreams = kStreams;
  info->jobId = job.jobId;
  info->appId = job.appId;
  CUxError error = ObjectStore::BackupInterface::getController(info, *controller, isRestartThread);
  if (error.IsError()) return "getController: " + error.AsString();
  (*controller)->setCallBack(&CommitRecord::OnCommit, &record);  // before the first sendItem
  return "";
}

// Sends again what comes back, a bounded number of rounds, leaving out what was committed since.
std::string SendWithResends(ObjectStore::BackupInterface& controller,
                            const std::vector<std::string>& names, ObjectStore::DiskCache& cache,
                            const CommitRecord& record, SendTally* tally) {
  std::set<std::string> back = SendOnThreads(controller, names, cache, tally);
  for (int round = 1; round <= kResendRounds && !back.empty(); ++round) {
    std::vector<std::string> again;
    for (const std::string& guid : back)
      if (!record.has(guid)) again.push_back(guid);
    tally->resent += static_cast<int>(again.size());
    back = SendOnThreads(controller, again, cache, tally);
  }
  if (back.empty()) return "";
  return std::to_string(back.size()) + " objects still failed after the resend rounds";
}

std::string EndJob(ObjectStore::BackupInterface& controller, const std::vector<std::string>& names,
                   ObjectStore::DirectoryDiskCache& cache, const CommitRecord& record) {
  std::list<std::string> notCommitted;
  CUxError error = controller.endBackup(notCommitted, true);  // waits for the last commits
  if (error.IsError()) return "endBackup: " + error.AsString();
  // Every item the job took on was committed or handed back, stream by stream.
  for (const ObjectStore::StreamStatistics& s : controller.statistics().streams) {
    if (s.itemsRecorded != s.itemsCommitted + s.itemsHandedBack() + s.uncommitted ||
        s.uncommitted != 0) {
      return "the statistics of stream " + std::to_string(s.aFileId) + " do not add up";
    }
  }
  // Outside the callback, as the guide asks: a committed object leaves the cache.
  int missing = 0;
  for (const std::string& guid : names) {
    if (!record.has(guid)) ++missing;
    if (record.has(guid)) cache.removeSegment(guid);
  }
  if (missing == 0 && !record.writeFailed()) return "";
  return std::to_string(missing) + " objects not recorded committed after endBackup";
}

std::string RunJob(const JobPlan& job, ObjectStore::DirectoryDiskCache& cache, CommitRecord& record,
                   SendTally* tally) {
  std::string error;
  const std::vector<std::string> names = WriteObjects(job, cache, &error);
  ObjectStore::BackupInterfacePtr controller;
  if (error.empty()) error = StartJob(job, false, record, &controller);
  if (error.empty()) error = SendWithResends(*controller, names, cache, record, tally);
  if (error.empty()) error = EndJob(*controller, names, cache, record);
  for (int count : tally->perStream)
    if (error.empty() && count == 0) error = "a stream got no object: check the identifiers";
  return error.empty() ? "" : "job " + std::to_string(job.jobId) + ": " + error;
}

}  // namespace server

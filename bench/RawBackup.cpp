#include "RawBackup.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "CSynchronousBackup.h"
#include "ErrorText.h"
#include "MakeCXFileHeader.h"
#include "SectionTypes.h"
#include "ThreadGroup.h"

namespace objstore_bench {

namespace {

typedef std::chrono::steady_clock Clock;

int64_t NanosOf(Clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// Counts the items the sequence numbers cover, per stream.
class CountingCommitHandler : public OBJECTOPSAPI::CCommitHandler {
 public:
  CountingCommitHandler() : OBJECTOPSAPI::CCommitHandler(OBJECTOPSAPI::FVBasePtr()) {}

  CUxError commitUpdate(uint64_t aFileId, std::string& sequence) override {
    const uint64_t number = std::strtoull(sequence.c_str(), nullptr, 10);
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t& previous = previous_[aFileId];
    if (number > previous) items_ += number - previous;
    previous = std::max(previous, number);
    lastNanos_ = NanosOf(Clock::now());
    return CUxError();
  }

  uint64_t items() {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
  }
  int64_t lastNanos() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastNanos_;
  }

 private:
  std::mutex mutex_;
  std::map<uint64_t, uint64_t> previous_;
  uint64_t items_ = 0;
  int64_t lastNanos_ = 0;
};

// The library's choice: a checksum of the identifier after the header's comma, modulo the
// number of streams.
size_t StreamIndexOf(const std::vector<char>& header, size_t streams) {
  const size_t start = OBJECTOPSAPI::kCXFileHeaderCommaOffset + 1;
  if (header.size() <= start) return 0;
  const char* id = header.data() + start;
  const size_t length =
      strnlen(id, std::min(header.size() - start, OBJECTOPSAPI::kCXFileHeaderIdChars));
  int sum = 0;
  if (length > 32) {
    for (size_t i : {size_t{0}, length - 1, length - 2, length - 3, length - 4}) {
      sum += static_cast<signed char>(id[i]);
    }
  } else if (length > 0) {
    sum = static_cast<signed char>(id[0]);
  }
  return static_cast<size_t>(static_cast<uint64_t>(static_cast<int64_t>(sum)) % streams);
}

struct Stream {
  OBJECTOPSAPI::CStreamHandlerPtr handler;
  std::mutex sendLock;
};

CUxError SendSections(OBJECTOPSAPI::CStreamHandler& handler,
                      const std::vector<ObjectStore::SectionV>& sections) {
  CUxError error;
  for (const ObjectStore::SectionV& section : sections) {
    if (section.type == ObjectStore::kSectionStreamHeader) {
      OBJECTOPSAPI::CXFileHeader header;
      std::memcpy(&header, section.data.data(), std::min(section.data.size(), sizeof(header)));
      error = handler.sendHeader(&header);
    } else if (section.type == ObjectStore::kSectionMetaData) {
      error = handler.sendMetaData(section.metaDataType, section.data.data(),
                                   static_cast<uint32_t>(section.data.size()));
    } else if (section.type == ObjectStore::kSectionFileData) {
      handler.startSingleInstanceData();
      error =
          handler.sendUserBufData(section.data.data(), static_cast<uint32_t>(section.data.size()));
    }
    if (error.IsError()) break;
  }
  CUxError eof = handler.sendEof(!error.IsError(), nullptr, 0);
  return error.IsError() ? error : eof;
}

}  // namespace

BenchRun RunRawBaseline(const BenchWorkload& workload, ObjectStore::DiskCache& cache,
                        const BenchRunOptions& options) {
  BenchRun run;
  OBJECTOPSAPI::JobInfoPtr job = StartBenchJobDescription(options);
  job->enableCommitCallBack = true;
  OBJECTOPSAPI::CSynchronousBackupPtr controller;
  CUxError error = OBJECTOPSAPI::CSynchronousBackup::getController(job, controller);
  std::vector<std::unique_ptr<Stream> > streams;
  for (uint32_t i = 0; !error.IsError() && i < options.streams; ++i) {
    streams.emplace_back(new Stream);
    error = controller->getStreamHandler(streams.back()->handler);
  }
  if (error.IsError()) {
    run.error = "job start: " + objstore_host::ErrorText(error);
    if (controller) controller->endBackup(OBJECTOPSAPI::KA_JOB_STATUS_COMPLETED);
    return run;
  }
  boost::shared_ptr<CountingCommitHandler> commits(new CountingCommitHandler);
  OBJECTOPSAPI::CCommitHandlerPtr handler = commits;
  controller->setCallbackObject(handler);

  std::atomic<size_t> next(0);
  std::atomic<uint64_t> failures(0);
  const Clock::time_point start = Clock::now();
  objstore_host::RunOnThreads(options.threads, [&] {
    ObjectStore::DiskCacheContext context;
    for (size_t i = next++; i < workload.items.size(); i = next++) {
      std::vector<ObjectStore::SectionV> sections;
      if (cache.readAllSections(context, workload.items[i], sections).IsError() ||
          sections.empty()) {
        ++failures;
        continue;
      }
      Stream& stream = *streams[StreamIndexOf(sections.front().data, streams.size())];
      std::lock_guard<std::mutex> lock(stream.sendLock);
      if (SendSections(*stream.handler, sections).IsError()) ++failures;
    }
  });
  for (std::unique_ptr<Stream>& stream : streams) controller->releaseStreamHandler(stream->handler);
  error = controller->endBackup(OBJECTOPSAPI::KA_JOB_STATUS_COMPLETED);
  const Clock::time_point end = Clock::now();

  run.seconds = std::chrono::duration<double>(end - start).count();
  run.items = workload.items.size();
  run.bytes = workload.bytes;
  run.committed = commits->items();
  if (commits->lastNanos() != 0)
    run.lastCommitToEndMs = (NanosOf(end) - commits->lastNanos()) / 1e6;
  if (error.IsError()) run.error = "endBackup: " + objstore_host::ErrorText(error);
  if (failures != 0) run.error = std::to_string(failures.load()) + " items failed";
  return run;
}

}  // namespace objstore_bench

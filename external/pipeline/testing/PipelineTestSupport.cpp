#include "PipelineTestSupport.h"

#include <chrono>

#include "MakeCXFileHeader.h"
#include "PipelineFaults.h"

namespace pipeline_testing {

CUxError RecordingCommitHandler::commitUpdate(uint64_t aFileId, std::string& sequence) {
  if (hook) hook();
  std::lock_guard<std::mutex> lock(mutex_);
  notifications_.push_back(
      Notification{static_cast<uint32_t>(aFileId), sequence, std::this_thread::get_id()});
  changed_.notify_all();
  return result;
}

std::vector<Notification> RecordingCommitHandler::notifications() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notifications_;
}

bool RecordingCommitHandler::waitFor(
    const std::function<bool(const std::vector<Notification>&)>& done) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return done(notifications_); });
}

bool RecordingCommitHandler::waitForSequence(uint32_t aFileId, const std::string& sequence) const {
  return waitFor([&](const std::vector<Notification>& all) {
    for (const Notification& n : all) {
      if (n.aFileId == aFileId && n.sequence == sequence) return true;
    }
    return false;
  });
}

void PipelineTest::SetUp() {
  store_ = dir_.sub("store");
  PipelineFaults::Clear();
  setOptions(0, 0, 0);  // no commit happens unless a test asks for one
}

void PipelineTest::TearDown() {
  PipelineFaults::Clear();
  PipelineOptions::ClearOverride();
}

void PipelineTest::setOptions(uint64_t commitItems, uint64_t commitBytes, uint64_t commitMs) {
  PipelineOptions options;
  options.storeDir = store_;
  options.commitItems = commitItems;
  options.commitBytes = commitBytes;
  options.commitMs = commitMs;
  PipelineOptions::Override(options);
}

CSynchronousBackupPtr PipelineTest::startJob(uint32_t numStreams, int64_t jobId,
                                             PipelineConfiuratorPtr configurator) {
  JobInfoPtr info(new JobInfo());
  info->numStreams = numStreams;
  info->jobId = jobId;
  info->appId = 3;
  info->enableCommitCallBack = true;
  info->pipelineConfigurator = configurator;
  CSynchronousBackupPtr job;
  CUxError error = CSynchronousBackup::getController(info, job);
  EXPECT_FALSE(error.IsError()) << error.AsString();
  return job;
}

CStreamHandlerPtr PipelineTest::stream(const CSynchronousBackupPtr& job) {
  CStreamHandlerPtr handler;
  CUxError error = job->getStreamHandler(handler);
  EXPECT_FALSE(error.IsError()) << error.AsString();
  return handler;
}

boost::shared_ptr<RecordingCommitHandler> PipelineTest::record(const CSynchronousBackupPtr& job) {
  boost::shared_ptr<RecordingCommitHandler> recorder(new RecordingCommitHandler());
  CCommitHandlerPtr handler = recorder;
  job->setCallbackObject(handler);
  return recorder;
}

std::vector<StoreRun> PipelineTest::runs() {
  std::vector<StoreRun> all;
  CUxError error = BackupStoreReader(store_).listRuns(&all);
  EXPECT_FALSE(error.IsError()) << error.AsString();
  return all;
}

std::vector<StoreItem> PipelineTest::items(uint32_t aFileId) {
  std::vector<StoreItem> all;
  for (const StoreRun& run : runs()) {
    for (const StoreStreamInfo& info : run.streams) {
      if (info.aFileId != aFileId) continue;
      CUxError error = StoreStreamReader::ReadAll(info, &all);
      EXPECT_FALSE(error.IsError()) << error.AsString();
    }
  }
  return all;
}

CUxError SendItem(const CStreamHandlerPtr& stream, const std::string& name, const std::string& data,
                  bool success) {
  CXFileHeader header = MakeCXFileHeader(name, name);
  const std::string metadata = "meta:" + name;
  CUxError error = stream->sendHeader(&header);
  if (!error.IsError()) error = stream->sendMetaData(5, metadata.data(), metadata.size());
  if (!error.IsError()) error = stream->sendUserBufData(data.data(), data.size());
  CUxError eof = stream->sendEof(success && !error.IsError(), nullptr, 0);
  return error.IsError() ? error : eof;
}

}  // namespace pipeline_testing

// Helpers of the pipeline's tests: a fixture with a fresh store and a clean fault plan, a commit
// handler that records what it is told, and a few shorthands for starting jobs and sending.
#ifndef OBJSTORE_PIPELINE_PIPELINETESTSUPPORT_H_
#define OBJSTORE_PIPELINE_PIPELINETESTSUPPORT_H_

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BackupStoreReader.h"
#include "CCommitHandler.h"
#include "CSynchronousBackup.h"
#include "PipelineOptions.h"
#include "StoreStreamReader.h"
#include "TestSupport.h"

namespace pipeline_testing {

using namespace OBJECTOPSAPI;

struct Notification {
  uint32_t aFileId;
  std::string sequence;
  std::thread::id thread;
};

// Records every commitUpdate; `hook` (optional) runs first, outside the recorder's lock.
class RecordingCommitHandler : public CCommitHandler {
 public:
  RecordingCommitHandler() : CCommitHandler(FVBasePtr()) {}
  CUxError commitUpdate(uint64_t aFileId, std::string& sequence) override;

  std::vector<Notification> notifications() const;
  // Waits (at most 20 s) until `done` holds for the notifications so far.
  bool waitFor(const std::function<bool(const std::vector<Notification>&)>& done) const;
  // Waits until stream `aFileId` was reported at `sequence`.
  bool waitForSequence(uint32_t aFileId, const std::string& sequence) const;

  std::function<void()> hook;
  CUxError result;  // what commitUpdate returns

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Notification> notifications_;
};

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Jobs started from now on use these options (the store is always the test's directory).
  void setOptions(uint64_t commitItems, uint64_t commitBytes, uint64_t commitMs);
  CSynchronousBackupPtr startJob(uint32_t numStreams, int64_t jobId = 7,
                                 PipelineConfiuratorPtr configurator = PipelineConfiuratorPtr());
  CStreamHandlerPtr stream(const CSynchronousBackupPtr& job);
  // Registers a fresh recording handler with `job` and returns it.
  boost::shared_ptr<RecordingCommitHandler> record(const CSynchronousBackupPtr& job);

  std::vector<StoreRun> runs();
  // The items the store holds for `aFileId` (in the only run that has that stream).
  std::vector<StoreItem> items(uint32_t aFileId);

  objstore_testing::TempDir dir_;
  std::string store_;
};

// Sends one item: a header for `name`, one metadata section of kind 5, one data section, eof.
CUxError SendItem(const CStreamHandlerPtr& stream, const std::string& name,
                  const std::string& data = "data", bool success = true);

}  // namespace pipeline_testing

#endif  // OBJSTORE_PIPELINE_PIPELINETESTSUPPORT_H_

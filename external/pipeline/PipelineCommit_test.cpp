#include <sys/resource.h>

#include <csignal>

#include "MakeCXFileHeader.h"
#include "PipelineErrors.h"
#include "testing/PipelineTestSupport.h"

namespace pipeline_testing {
namespace {

typedef PipelineTest PipelineCommitTest;

bool NotOn(const std::vector<Notification>& all, std::thread::id thread) {
  for (const Notification& n : all) {
    if (n.thread == thread) return false;
  }
  return true;
}

TEST_F(PipelineCommitTest, CommitDataReportsEndedItemsOnAnotherThread) {
  CSynchronousBackupPtr job = startJob(1);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr handler = stream(job);
  uint32_t id = handler->getAfileID();
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  ASSERT_FALSE(SendItem(handler, "b", "x", false).IsError());  // a failed item counts too
  ASSERT_FALSE(handler->commitData().IsError());
  ASSERT_TRUE(recorder->waitForSequence(id, "2"));

  ASSERT_FALSE(SendItem(handler, "c").IsError());
  CXFileHeader header = MakeCXFileHeader("d", "d");
  ASSERT_FALSE(handler->sendHeader(&header).IsError());  // an unfinished item does not count
  ASSERT_FALSE(handler->commitData().IsError());
  ASSERT_TRUE(recorder->waitForSequence(id, "3"));
  EXPECT_TRUE(NotOn(recorder->notifications(), std::this_thread::get_id()));

  // What was reported is durable: the store says the same.
  std::vector<StoreItem> stored = items(id);
  ASSERT_EQ(3u, stored.size());
  EXPECT_TRUE(stored[2].committed);
  EXPECT_FALSE(stored[1].success);
}

TEST_F(PipelineCommitTest, ThresholdsCommitWithoutBeingAsked) {
  struct Case {
    const char* name;
    uint64_t items, bytes, ms;
    int send;
    const char* expected;
  } cases[] = {
      {"items", 3, 0, 0, 3, "3"},
      {"bytes", 0, 1024, 0, 1, "1"},
      {"time", 0, 0, 5, 2, "2"},
  };
  for (const Case& c : cases) {
    setOptions(c.items, c.bytes, c.ms);
    CSynchronousBackupPtr job = startJob(1);
    boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
    CStreamHandlerPtr handler = stream(job);
    for (int i = 0; i < c.send; ++i) {
      ASSERT_FALSE(SendItem(handler, "i", std::string(1500, 'z')).IsError());
    }
    EXPECT_TRUE(recorder->waitForSequence(handler->getAfileID(), c.expected)) << c.name;
    EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  }
}

TEST_F(PipelineCommitTest, EndBackupReportsEveryStreamWithUncommittedItems) {
  CSynchronousBackupPtr job = startJob(3);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr first = stream(job), second = stream(job), idle = stream(job);
  for (int i = 0; i < 4; ++i) ASSERT_FALSE(SendItem(first, "f").IsError());
  ASSERT_FALSE(SendItem(second, "s").IsError());
  ASSERT_FALSE(second->commitData().IsError());
  ASSERT_TRUE(recorder->waitForSequence(second->getAfileID(), "1"));

  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  // Already made when endBackup returns; the stream with nothing new is not reported again,
  // the idle one not at all.
  std::vector<Notification> all = recorder->notifications();
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(first->getAfileID(), all[1].aFileId);
  EXPECT_EQ("4", all[1].sequence);
  EXPECT_TRUE(NotOn(all, std::this_thread::get_id()));
  EXPECT_EQ(1, recorder.use_count());  // the pipeline let go of the handler
}

// The handler takes a lock that a sender holds while it sends: the sender must still get
// through, because no pipeline lock is held while commitUpdate runs.
TEST_F(PipelineCommitTest, SendsProceedWhileCommitUpdateWaitsForTheSender) {
  CSynchronousBackupPtr job = startJob(1);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr handler = stream(job);
  std::mutex hostLock;
  std::mutex enteredMutex;
  std::condition_variable enteredChanged;
  bool entered = false;
  recorder->hook = [&] {
    {
      std::lock_guard<std::mutex> lock(enteredMutex);
      entered = true;
    }
    enteredChanged.notify_all();
    std::lock_guard<std::mutex> lock(hostLock);
  };

  {
    std::lock_guard<std::mutex> lock(hostLock);
    ASSERT_FALSE(SendItem(handler, "a").IsError());
    ASSERT_FALSE(handler->commitData().IsError());
    std::unique_lock<std::mutex> wait(enteredMutex);
    ASSERT_TRUE(enteredChanged.wait_for(wait, std::chrono::seconds(20), [&] { return entered; }));
    wait.unlock();
    // Enough to fill the send buffer several times over.
    std::string data(40000, 'q');
    for (int i = 0; i < 50; ++i) ASSERT_FALSE(SendItem(handler, "b", data).IsError());
    ASSERT_FALSE(handler->commitData().IsError());
  }
  EXPECT_TRUE(recorder->waitForSequence(handler->getAfileID(), "51"));
  recorder->hook = nullptr;
  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
}

TEST_F(PipelineCommitTest, FailingCommitUpdateIsLoggedAndLaterCommitsStillCome) {
  objstore_testing::ScopedLogCapture capture;
  CSynchronousBackupPtr job = startJob(1);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  recorder->result = UX_ERROR(232, "not found");
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  ASSERT_FALSE(handler->commitData().IsError());
  ASSERT_TRUE(recorder->waitForSequence(handler->getAfileID(), "1"));
  ASSERT_FALSE(SendItem(handler, "b").IsError());
  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  EXPECT_TRUE(recorder->waitForSequence(handler->getAfileID(), "2"));
  EXPECT_EQ(2u, capture.log().countContaining("ERROR: commitUpdate of stream", -1));
}

TEST_F(PipelineCommitTest, DisabledCommitCallbackReportsNothing) {
  JobInfoPtr info(new JobInfo());
  CSynchronousBackupPtr job;
  ASSERT_FALSE(CSynchronousBackup::getController(info, job).IsError());
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  EXPECT_TRUE(recorder->notifications().empty());
  EXPECT_TRUE(items(handler->getAfileID())[0].committed);  // committed all the same
}

// Files of this process may not grow beyond `bytes` while it lives.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // a failed write then gives EFBIG
    getrlimit(RLIMIT_FSIZE, &previous_);
    struct rlimit limit = {bytes, previous_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  struct rlimit previous_;
  void (*previousHandler_)(int);
};

TEST_F(PipelineCommitTest, WriteErrorCutsTheFileBackAndCommitsNoMore) {
  CSynchronousBackupPtr job = startJob(1);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr handler = stream(job);
  uint32_t id = handler->getAfileID();
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  ASSERT_FALSE(handler->commitData().IsError());
  ASSERT_TRUE(recorder->waitForSequence(id, "1"));
  {
    ScopedFileSizeLimit limit(1 << 20);
    ASSERT_FALSE(SendItem(handler, "b").IsError());
    EXPECT_EQ(kPipelineIoError, SendItem(handler, "big", std::string(2 << 20, 'b')).GetErrorCode());
  }
  EXPECT_EQ(kPipelineIoError, SendItem(handler, "c").GetErrorCode());  // the stream is unusable
  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());

  EXPECT_EQ(1u, recorder->notifications().size());  // nothing after the error is reported
  StoreStreamReader reader;
  ASSERT_FALSE(reader.open(runs()[0].streams[0]).IsError());
  StoreItem item;
  bool more = false;
  ASSERT_FALSE(reader.next(&item, &more).IsError());
  EXPECT_TRUE(item.committed);
  ASSERT_FALSE(reader.next(&item, &more).IsError());
  EXPECT_FALSE(item.committed);  // "b" reached the file but was never synced and reported
  ASSERT_FALSE(reader.next(&item, &more).IsError());
  EXPECT_FALSE(more);
  EXPECT_TRUE(reader.incompleteTail());  // the header of "big"; its cut data record is gone
}

}  // namespace
}  // namespace pipeline_testing

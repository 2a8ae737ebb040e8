// Ending a backup: waiting for outstanding commits, handing back what did not commit, and the
// controller's release.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ControllerTestFixture.h"
#include "KaCriticalSectionLock.h"

namespace ObjectStore {
namespace {

using OBJECTOPSAPI::PipelineFaults;
typedef std::chrono::steady_clock Clock;

class EndBackupTest : public objstore_testing::ControllerTest {
 protected:
  // A one-stream job in manual commit mode holding two sent, uncommitted items.
  void SetUp() override {
    ControllerTest::SetUp();
    PipelineFaults::SetManualCommit(true);
    startJob();
  }

  // The job of SetUp, started again with a commit wait of `commitWaitMs`: a job keeps the
  // options it started with.
  void restartWithCommitWait(long commitWaitMs) {
    std::list<std::string> failed;
    controller_->endBackup(failed, false);
    ChangeOptions([commitWaitMs](BackupOptions& options) { options.commitWaitMs = commitWaitMs; });
    startJob();
  }

  void startJob() {
    controller_ = start(1, 1);
    ASSERT_TRUE(controller_);
    aFileId_ = controller_->streamHandlerAt(0)->getAfileID();
    for (const char* item : {"first", "second"}) {
      cacheItem(item, "k");
      std::list<std::string> failed;
      ASSERT_FALSE(
          controller_->sendItem(item, failed, nullptr, nullptr, cache_, context_).IsError());
    }
    stream_ = registeredStream(aFileId_);
  }

  // Delivers a commit the way the pipeline does, also after the pipeline job has ended.
  void commit(const std::string& sequence) {
    std::string text = sequence;
    ChunkCommitHandler(controller_).commitUpdate(aFileId_, text);
  }

  BackupInterfacePtr controller_;
  uint32_t aFileId_ = 0;
  StreamInfoPtr stream_;
  std::list<std::string> failed_{"earlier"};
};

// Without waiting, the stream's record keeps its items, and its registration, until its last
// commit arrives; a notification after that finds no stream.
TEST_F(EndBackupTest, WithoutWaitingItemsStayUntilTheirCommitsArrive) {
  EXPECT_FALSE(controller_->endBackup(failed_, false).IsError());
  EXPECT_EQ(std::list<std::string>{"earlier"}, failed_);
  EXPECT_EQ(2u, stream_->getUncommittedCount());
  EXPECT_FALSE(objstore_testing::PathExists(jobDirectory()));
  commit("1");
  EXPECT_EQ(stream_, registeredStream(aFileId_));
  commit("2");
  EXPECT_EQ((std::vector<std::string>{"first", "second"}), commits_.committedItems());
  EXPECT_FALSE(registeredStream(aFileId_));
  std::string sequence = "3";
  EXPECT_EQ(232u, ChunkCommitHandler(controller_).commitUpdate(aFileId_, sequence).GetErrorCode());
}

TEST_F(EndBackupTest, EmptiedStreamsLeaveTheRegistry) {
  commit("2");
  EXPECT_FALSE(controller_->endBackup(failed_, true).IsError());
  EXPECT_FALSE(registeredStream(aFileId_));
}

TEST_F(EndBackupTest, TimedOutStreamIsHandedBackOldestFirst) {
  objstore_testing::ScopedLogCapture capture(1);
  stream_->callbackEvent.set();  // a signal left over from earlier must not end the wait
  const Clock::time_point start = Clock::now();
  CUxError error = controller_->endBackup(failed_, true);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(GetBackupOptions().commitWaitMs));
  EXPECT_EQ(258u, error.GetErrorCode());
  EXPECT_EQ((std::list<std::string>{"earlier", "first", "second"}), failed_);
  EXPECT_EQ(0u, stream_->getUncommittedCount());
  EXPECT_FALSE(objstore_testing::PathExists(jobDirectory()));
  EXPECT_EQ(1u, capture.log().count("Please open the Object Store again!!!!!!!!!", -1));
  // The stream's two items, not the host's earlier one.
  EXPECT_EQ(1u, capture.log().count("ERROR: handed back [2] items of the stream with afile ID [" +
                                        std::to_string(aFileId_) + "] (commit timeout)",
                                    -1));
  EXPECT_EQ(0u, capture.log().countContaining("INFO: Stop job successful"));
}

TEST_F(EndBackupTest, WaitEndsWhenTheLastCommitArrives) {
  restartWithCommitWait(60000);
  objstore_testing::ScopedLogCapture capture(1);
  std::atomic<Clock::rep> lastCommit(0);
  std::thread pipeline([&] {
    while (capture.log().count("INFO: waiting on callback event", 1) == 0)
      std::this_thread::yield();
    commit("1");
    lastCommit = Clock::now().time_since_epoch().count();
    commit("2");
  });
  CUxError error = controller_->endBackup(failed_, true);
  const Clock::time_point returned = Clock::now();
  pipeline.join();
  EXPECT_FALSE(error.IsError()) << error.AsString();
  EXPECT_LT(returned - Clock::time_point(Clock::duration(lastCommit.load())),
            std::chrono::seconds(5));
  EXPECT_EQ(std::list<std::string>{"earlier"}, failed_);
  EXPECT_EQ((std::vector<std::string>{"first", "second"}), commits_.committedItems());
}

// A job whose pipeline stop failed: the items stay in their records and the directory stays;
// sends are refused from then on and send nothing; a second endBackup retries the stop and
// delivers the commits.
TEST_F(EndBackupTest, FailedStopKeepsItemsRefusesSendsAndCanBeRetried) {
  PipelineFaults::FailCall(PipelineFaults::kEndBackup, 1);
  CUxError error = controller_->endBackup(failed_, true);
  EXPECT_TRUE(error.IsError());
  EXPECT_GE(error.LocationCount(), 2u);
  EXPECT_EQ(2u, stream_->getUncommittedCount());
  EXPECT_TRUE(objstore_testing::PathExists(jobDirectory()));
  EXPECT_EQ(std::list<std::string>{"earlier"}, failed_);

  cacheItem("late", "k");
  std::list<std::string> failed;
  error = controller_->sendItem("late", failed, nullptr, nullptr, cache_, context_);
  EXPECT_EQ(static_cast<uint32_t>(kErrBackupEnded), error.GetErrorCode());
  EXPECT_TRUE(failed.empty());
  EXPECT_EQ(2u, stream_->getUncommittedCount());

  PipelineFaults::SetManualCommit(false);  // the retried stop commits and reports
  EXPECT_FALSE(controller_->endBackup(failed_, true).IsError());
  EXPECT_EQ((std::vector<std::string>{"first", "second"}), commits_.committedItems());
  EXPECT_FALSE(objstore_testing::PathExists(jobDirectory()));
  EXPECT_EQ(std::list<std::string>{"earlier"}, failed_);
}

}  // namespace

class BackupInterfaceTestPeer {
 public:
  static boost::weak_ptr<OBJECTOPSAPI::CCommitHandler> Handler(BackupInterface& controller) {
    KaCriticalSectionLock lock(&controller.callBackLock);
    return controller.commitHandler;
  }
};

namespace {

// A host that gives up after a failed stop frees the controller and its commit handler by
// dropping its pointer, although the pipeline still holds the handler; the job is abandoned.
TEST_F(EndBackupTest, HostThatGivesUpAfterAFailedStopFreesBoth) {
  objstore_testing::ScopedLogCapture capture(5);
  boost::weak_ptr<OBJECTOPSAPI::CCommitHandler> handler =
      BackupInterfaceTestPeer::Handler(*controller_);
  boost::weak_ptr<BackupInterface> watch = controller_;
  PipelineFaults::FailCall(PipelineFaults::kEndBackup, 1);
  EXPECT_TRUE(controller_->endBackup(failed_, true).IsError());
  EXPECT_FALSE(handler.expired());  // the pipeline keeps it for a retry
  controller_.reset();
  started_.clear();
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(handler.expired());
  EXPECT_EQ(1u, capture.log().countContaining("dropped without endBackup", -1));
  EXPECT_EQ(2u, stream_->getUncommittedCount());  // for the restart that resends them
}

// A second endBackup after a successful one is the pipeline's "job has ended" error; one made
// while the first still waits is refused at once.
TEST_F(EndBackupTest, SecondEndIsAnError) {
  restartWithCommitWait(60000);
  objstore_testing::ScopedLogCapture capture(1);
  CUxError first;
  std::thread ending([&] { first = controller_->endBackup(failed_, true); });
  while (capture.log().count("INFO: waiting on callback event", 1) == 0) std::this_thread::yield();
  std::list<std::string> failed;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(static_cast<uint32_t>(kErrBackupEnded),
            controller_->endBackup(failed, true).GetErrorCode());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  commit("2");
  ending.join();
  EXPECT_FALSE(first.IsError()) << first.AsString();
  CUxError second = controller_->endBackup(failed, true);
  EXPECT_EQ(28675u, second.GetErrorCode());
  EXPECT_EQ(1u, capture.log().count("ERROR: Stop job failed/Job not running.", -1));
  EXPECT_TRUE(failed.empty());
}

TEST_F(EndBackupTest, FailedRemovalIsReturnedWhenAllCommitted) {
  objstore_testing::ScopedLogCapture capture(1);
  const std::string realRoot = ObjectStoreStatic::rootDir;
  ObjectStoreStatic::rootDir = "/dev/null";  // the job directory cannot be removed there
  CUxError error = controller_->endBackup(failed_, false);
  ObjectStoreStatic::rootDir = realRoot;
  EXPECT_TRUE(error.IsError());
  EXPECT_NE(258u, error.GetErrorCode());
  EXPECT_EQ(1u,
            capture.log().count("ERROR: failed to remove the job directory [/dev/null/100].", -1));
  EXPECT_EQ(0u, capture.log().countContaining("INFO: Stop job successful"));
}

TEST_F(EndBackupTest, ControllerIsFreedAndRefusesFurtherSends) {
  objstore_testing::ScopedLogCapture capture(5);
  commit("2");
  ASSERT_FALSE(controller_->endBackup(failed_, true).IsError());
  EXPECT_FALSE(controller_->holdsCommitHandler());
  std::list<std::string> failed;
  int index = -1;
  CUxError error = controller_->sendItem("first", failed, nullptr, &index, cache_, context_);
  EXPECT_EQ(static_cast<uint32_t>(kErrBackupEnded), error.GetErrorCode());
  EXPECT_EQ(-1, index);
  EXPECT_EQ(0u, registeredControllers(1));

  boost::weak_ptr<BackupInterface> watch = controller_;
  controller_.reset();
  started_.clear();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(1u, capture.log().count("Destroying BackupInterface", 5));
}

// Nobody to report to: the items stay for the callback set next, or for the end's hand-back.
TEST_F(EndBackupTest, CommitWithoutCallbackKeepsItsItems) {
  const size_t before = stream_->getUncommittedCount();
  controller_->setCallBack(nullptr, nullptr);
  commit("1");
  EXPECT_TRUE(commits_.committedItems().empty());
  EXPECT_EQ(before, stream_->getUncommittedCount());
}

TEST_F(EndBackupTest, CommitForUnknownStreamIsRefused) {
  std::string sequence = "1";
  CUxError error = ChunkCommitHandler(controller_).commitUpdate(aFileId_ + 1000, sequence);
  EXPECT_EQ(232u, error.GetErrorCode());
  EXPECT_TRUE(commits_.calls.empty());
}

TEST_F(EndBackupTest, CommitCoveringNothingStillCallsBack) {
  commit("0");
  ASSERT_EQ(1u, commits_.calls.size());
  EXPECT_TRUE(commits_.calls[0].items.empty());
  EXPECT_EQ(aFileId_, commits_.calls[0].aFileId);
}

// All streams share one deadline: a job whose commits stopped gives up after one wait, not after
// one wait per stream, and hands back the items of every stream.
TEST_F(EndBackupTest, StreamsShareOneDeadline) {
  const int kStreams = 6;
  // One stream after another: at least 2.4 s.
  ChangeOptions([](BackupOptions& options) { options.commitWaitMs = 400; });
  BackupInterfacePtr controller = start(2, kStreams, 200);
  for (int i = 0; i < 60; ++i) {
    const std::string item = "item-" + std::to_string(i);
    cacheItem(item, KeyFor(item));
    std::list<std::string> failed;
    ASSERT_FALSE(
        controller->sendItem(item.c_str(), failed, nullptr, nullptr, cache_, context_).IsError());
  }
  std::list<std::string> failed;
  const Clock::time_point start = Clock::now();
  CUxError error = controller->endBackup(failed, true);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_EQ(258u, error.GetErrorCode());
  EXPECT_EQ(60u, failed.size());
}

// The host may ask whether the job still holds its commit handler, or register its callback,
// while another thread ends the backup.
TEST_F(EndBackupTest, CallbackRegistrationRacesWithTheEnd) {
  std::atomic<bool> ended(false);
  std::atomic<int> rounds(0);
  std::thread registering([&] {
    for (; !ended; ++rounds)
      controller_->setCallBack(&objstore_testing::CommitLog::OnCommit, &commits_);
  });
  std::thread asking([&] {
    for (; !ended; ++rounds) controller_->holdsCommitHandler();
  });
  while (rounds < 1000) std::this_thread::yield();  // both are at it
  commit("2");
  EXPECT_FALSE(controller_->endBackup(failed_, true).IsError());
  ended = true;
  registering.join();
  asking.join();
  EXPECT_FALSE(controller_->holdsCommitHandler());
}

// Items whose second identifiers share their first character all go to one stream; the end of
// the job says so once, and says nothing when the items spread.
typedef objstore_testing::ControllerTest StreamSpreadTest;

TEST_F(StreamSpreadTest, EndWarnsOnceWhenOneStreamTookEveryItem) {
  for (bool spread : {false, true}) {
    BackupInterfacePtr controller = start(1, 3, spread ? 2 : 1);
    ASSERT_TRUE(controller);
    for (int i = 0; i < 20; ++i) {
      const std::string guid = (spread ? "spread-" : "same-") + std::to_string(i);
      cacheItem(guid, spread ? KeyFor(guid) : "src-" + std::to_string(i));
      std::list<std::string> failed;
      ASSERT_FALSE(
          controller->sendItem(guid.c_str(), failed, nullptr, nullptr, cache_, context_).IsError());
    }
    objstore_testing::ScopedLogCapture capture(5);
    std::list<std::string> failed;
    ASSERT_FALSE(controller->endBackup(failed, true).IsError());
    EXPECT_EQ(spread ? 0u : 1u, capture.log().countContaining("WARN: all [20] items of job", -1))
        << (spread ? "spread" : "one stream");
  }
}

}  // namespace
}  // namespace ObjectStore

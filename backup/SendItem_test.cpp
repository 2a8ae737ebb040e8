// Sending items against a harsh pipeline: one that holds each end-of-file until its commit has
// been reported, faults that throw, two sends racing for one stream, and forced commits by age.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "BackupStoreReader.h"
#include "ControllerTestFixture.h"
#include "KAPlatformInfo.h"
#include "StoreStreamReader.h"

namespace ObjectStore {
namespace {

using OBJECTOPSAPI::PipelineFaults;
using objstore_testing::ControllerTest;
using objstore_testing::Guid;

class SendItemTest : public ControllerTest {
 protected:
  // Sends Guid(i) on a one-stream job; returns its error and collects its failed list.
  CUxError send(BackupInterfacePtr controller, int i) {
    return controller->sendItem(Guid(i).c_str(), failed_, nullptr, nullptr, cache_, context_);
  }
  uint32_t aFileId(BackupInterfacePtr controller) {
    return controller->streamHandlerAt(0)->getAfileID();
  }
  std::list<std::string> failed_;
};

// With a window of one, every end-of-file waits for its own commit, so each commit arrives while
// its item is still in flight. The item is reported once that end-of-file has returned: before
// sendItem returns, exactly once, the last item of the job included.
TEST_F(SendItemTest, ItemCoveredDuringItsEndOfFileIsReportedBySendItem) {
  PipelineFaults::SetFlowWindow(1);
  BackupInterfacePtr controller = start(1, 1);
  std::vector<std::string> expected;
  for (int i = 0; i < 5; ++i) {
    cacheItem(Guid(i), "k");
    ASSERT_FALSE(send(controller, i).IsError());
    expected.push_back(Guid(i));
    EXPECT_EQ(expected, commits_.committedItems()) << "after item " << i;
  }
  std::list<std::string> notCommitted;
  EXPECT_FALSE(controller->endBackup(notCommitted, true).IsError());
  EXPECT_TRUE(notCommitted.empty());
  EXPECT_TRUE(failed_.empty());
  EXPECT_EQ(expected, commits_.committedItems());
}

// The commit that covers an item in flight finds the callback set; the host removes it before
// the end-of-file returns. The item is then reported to the next callback the host sets: the
// pipeline never sends that number again, and a job that ends without waiting would keep it.
TEST_F(SendItemTest, CoveredItemWhoseCallbackWentIsReportedToTheNextOne) {
  PipelineFaults::SetManualCommit(true);
  PipelineFaults::SetFlowWindow(1);
  BackupInterfacePtr controller = start(1, 1);
  PipelineFaults::SetHoldHook([&](uint32_t aFileId) {
    EXPECT_FALSE(PipelineFaults::CommitAndDeliver(aFileId).IsError());
    controller->setCallBack(nullptr, nullptr);
  });
  cacheItem(Guid(0), "k");
  ASSERT_FALSE(send(controller, 0).IsError());
  PipelineFaults::SetHoldHook(nullptr);
  EXPECT_TRUE(commits_.committedItems().empty());
  controller->setCallBack(&objstore_testing::CommitLog::OnCommit, &commits_);
  EXPECT_EQ(std::vector<std::string>{Guid(0)}, commits_.committedItems());
  std::list<std::string> notCommitted;
  EXPECT_FALSE(controller->endBackup(notCommitted, false).IsError());
  EXPECT_TRUE(notCommitted.empty());
  EXPECT_TRUE(failed_.empty());
}

// An end that overtakes a send whose end-of-file a commit covered: the sender reports the item
// once that end-of-file has gone through, after the end has returned, and the record it empties
// is the last trace of the job: it must leave the registry, or a server keeps one per such job.
TEST_F(SendItemTest, CoveredItemReportedAfterTheEndLeavesNoRecord) {
  ChangeOptions([](BackupOptions& options) { options.commitWaitMs = 20; });
  PipelineFaults::SetManualCommit(true);
  PipelineFaults::SetFlowWindow(1);
  BackupInterfacePtr controller = start(1, 1);
  const uint32_t id = aFileId(controller);
  std::list<std::string> notCommitted;
  CUxError ended;
  PipelineFaults::SetHoldHook([&](uint32_t stream) {
    PipelineFaults::SetHoldHook(nullptr);
    EXPECT_FALSE(PipelineFaults::CommitAndDeliver(stream).IsError());
    // The end gives up on this send at its deadline and returns while the send still runs.
    std::thread ender([&] { ended = controller->endBackup(notCommitted, false); });
    ender.join();
    EXPECT_TRUE(registeredStream(id)) << "the covered item still holds its record";
  });
  cacheItem(Guid(0), "k");
  EXPECT_FALSE(send(controller, 0).IsError());
  EXPECT_FALSE(ended.IsError()) << ended.AsString();
  EXPECT_EQ(std::vector<std::string>{Guid(0)}, commits_.committedItems());
  EXPECT_TRUE(notCommitted.empty());
  EXPECT_TRUE(failed_.empty());
  EXPECT_FALSE(registeredStream(id));
  EXPECT_EQ(0u, registeredStreams());
}

// A send that the end of its job overtakes and that then fails hands its items back; the record
// it empties is the last trace of the job and leaves the registry as well.
TEST_F(SendItemTest, FailedSendAfterTheEndLeavesNoRecord) {
  ChangeOptions([](BackupOptions& options) { options.commitWaitMs = 20; });
  PipelineFaults::SetManualCommit(true);
  BackupInterfacePtr controller = start(1, 1);
  const uint32_t id = aFileId(controller);
  std::list<std::string> notCommitted;
  CUxError ended;
  PipelineFaults::FailCall(PipelineFaults::kSendUserBufData, 1);
  PipelineFaults::SetCallHook([&](PipelineFaults::Op op, uint32_t) {
    if (op != PipelineFaults::kSendUserBufData) return;
    PipelineFaults::SetCallHook(nullptr);
    std::thread ender([&] { ended = controller->endBackup(notCommitted, false); });
    ender.join();
  });
  cacheItem(Guid(0), "k");
  EXPECT_TRUE(send(controller, 0).IsError());
  EXPECT_FALSE(ended.IsError()) << ended.AsString();
  EXPECT_EQ(std::list<std::string>{Guid(0)}, failed_);
  EXPECT_TRUE(commits_.committedItems().empty());
  EXPECT_FALSE(registeredStream(id));
}

// A commit that empties the stream of a running job leaves its record in place: the next item
// on that stream is sent, not refused as an unknown stream.
TEST_F(SendItemTest, StreamEmptiedByACommitTakesTheNextItem) {
  BackupInterfacePtr controller = start(1, 1);
  for (int i = 0; i < 2; ++i) cacheItem(Guid(i), "k");
  ASSERT_FALSE(send(controller, 0).IsError());
  ASSERT_FALSE(controller->streamHandlerAt(0)->commitData().IsError());
  {
    std::unique_lock<std::mutex> lock(commits_.mutex);
    ASSERT_TRUE(commits_.changed.wait_for(lock, std::chrono::seconds(30),
                                          [this] { return !commits_.calls.empty(); }));
  }
  EXPECT_FALSE(send(controller, 1).IsError());
  EXPECT_TRUE(failed_.empty());
  std::list<std::string> notCommitted;
  EXPECT_FALSE(controller->endBackup(notCommitted, true).IsError());
  EXPECT_EQ((std::vector<std::string>{Guid(0), Guid(1)}), commits_.committedItems());
}

// A stream whose record has left the registry (another record took its id) is refused before
// anything is recorded or sent: the error tells the host to send the item again, and no record
// holds it where no commit would ever reach it.
TEST_F(SendItemTest, StreamWithoutItsRecordRefusesTheItem) {
  BackupInterfacePtr controller = start(1, 1);
  cacheItem(Guid(0), "k");
  StreamInfoPtr record;
  {
    KaCriticalSectionLock lock(&gStreamLock);
    record = gStreams.at(aFileId(controller));
    record->setRegistered(false);
    gStreams.erase(aFileId(controller));
  }
  const CUxError error = send(controller, 0);
  EXPECT_EQ(kErrStreamCacheNotFound, error.GetErrorCode()) << error.AsString();
  EXPECT_EQ(0u, record->getUncommittedCount());
  EXPECT_TRUE(failed_.empty());
}

// A commit that counts a failed item, arriving while that item's end-of-file is still being
// sent, must not report it: the item goes back to the host, once, and the items around it keep
// their places.
TEST_F(SendItemTest, FailedItemIsNeverReportedCommitted) {
  struct Case {
    const char* plan;  // faults of the second item
  } cases[] = {{"sendEof=2"}, {"sendHeader=2"}, {"sendHeader=2,sendEof=2"}};
  int appId = 1;
  for (const Case& c : cases) {
    ASSERT_FALSE(PipelineFaults::Install(std::string(c.plan) + ",flowWindow=1").IsError());
    commits_.calls.clear();
    failed_.clear();
    BackupInterfacePtr controller = start(appId, 1, appId);
    for (int i = 0; i < 3; ++i) cacheItem(Guid(i), "k");
    EXPECT_FALSE(send(controller, 0).IsError()) << c.plan;
    EXPECT_TRUE(send(controller, 1).IsError()) << c.plan;
    EXPECT_FALSE(send(controller, 2).IsError()) << c.plan;
    std::list<std::string> notCommitted;
    EXPECT_FALSE(controller->endBackup(notCommitted, true).IsError()) << c.plan;
    EXPECT_EQ((std::vector<std::string>{Guid(0), Guid(2)}), commits_.committedItems()) << c.plan;
    EXPECT_EQ(std::list<std::string>{Guid(1)}, failed_) << c.plan;
    EXPECT_TRUE(notCommitted.empty()) << c.plan;
    ++appId;
  }
}

// However a pipeline call throws, the exception reaches the host, the stream handler is free
// again, the recorded item is handed back, and the stream's later items stay aligned with the
// pipeline's count.
TEST_F(SendItemTest, ExceptionsLeaveTheStreamUsable) {
  struct Case {
    PipelineFaults::Op op;
    std::list<std::string> failed;  // after the second item threw
    const char* sequence;           // the pipeline's count after the third item
    std::vector<std::string> committed;
  } cases[] = {
      {PipelineFaults::kSendHeader, {Guid(0), Guid(1)}, "3", {Guid(2)}},
      {PipelineFaults::kSendUserBufData, {Guid(0), Guid(1)}, "3", {Guid(2)}},
      {PipelineFaults::kSendEof, {Guid(0), Guid(1)}, "3", {Guid(2)}},
      // A forced commit throws before the item is recorded: nothing to hand back.
      {PipelineFaults::kCommitData, {}, "2", {Guid(0), Guid(2)}},
  };
  int appId = 1;
  for (const Case& c : cases) {
    const char* op = PipelineFaults::OpName(c.op);
    PipelineFaults::Clear();
    PipelineFaults::SetManualCommit(true);
    PipelineFaults::FailCall(c.op, c.op == PipelineFaults::kCommitData ? 1 : 2, 0, false, true);
    cache_.setHighWatermark(c.op == PipelineFaults::kCommitData ? 0 : UINT64_MAX);
    commits_.calls.clear();
    failed_.clear();
    BackupInterfacePtr controller = start(appId, 1, appId);
    for (int i = 0; i < 3; ++i) cacheItem(Guid(i), "k");
    EXPECT_FALSE(send(controller, 0).IsError()) << op;
    EXPECT_THROW(send(controller, 1), PipelineFaults::InjectedException) << op;
    EXPECT_EQ(1u, controller->freeStreamHandlerCount()) << op;
    EXPECT_EQ(c.failed, failed_) << op;
    EXPECT_FALSE(send(controller, 2).IsError()) << op;
    ASSERT_FALSE(PipelineFaults::DeliverCommit(aFileId(controller), c.sequence).IsError());
    EXPECT_EQ(c.committed, commits_.committedItems()) << op;
    std::list<std::string> notCommitted;
    EXPECT_FALSE(controller->endBackup(notCommitted, false).IsError()) << op;
    ++appId;
  }
}

// A failed send hands back every uncommitted item of its stream, and one line says how many
// and from which stream: the items the host already had in its list are not counted.
TEST_F(SendItemTest, HandBackNamesTheStreamAndCountsItsItems) {
  struct Case {
    const char* plan;  // the last item's send fails
    const char* cause;
    bool throws;
  } cases[] = {
      {"sendUserBufData=120", "failed send", false},
      {"sendEof=120", "failed send", false},
      {"sendHeader=120:throw", "exception", true},
  };
  const int kItems = 120;  // the 120th send fails; 119 went through, none committed
  int appId = 1;
  for (const Case& c : cases) {
    objstore_testing::ScopedLogCapture capture(-1);
    PipelineFaults::Clear();
    ASSERT_FALSE(PipelineFaults::Install(std::string(c.plan) + ",manualCommit").IsError());
    failed_ = {"earlier"};
    BackupInterfacePtr controller = start(appId, 1, appId);
    for (int i = 0; i < kItems - 1; ++i) {
      cacheItem(Guid(i), "k");
      ASSERT_FALSE(send(controller, i).IsError()) << c.plan;
    }
    cacheItem(Guid(kItems - 1), "k");
    if (c.throws) {
      EXPECT_THROW(send(controller, kItems - 1), PipelineFaults::InjectedException) << c.plan;
    } else {
      EXPECT_TRUE(send(controller, kItems - 1).IsError()) << c.plan;
    }
    EXPECT_EQ(static_cast<size_t>(kItems) + 1, failed_.size()) << c.plan;
    EXPECT_EQ(
        1u, capture.log().count("ERROR: Moved all the items from stream cache into failedList", -1))
        << c.plan;
    EXPECT_EQ(1u,
              capture.log().count("ERROR: handed back [" + std::to_string(kItems) +
                                      "] items of the stream with afile ID [" +
                                      std::to_string(aFileId(controller)) + "] (" + c.cause + ")",
                                  -1))
        << c.plan;
    std::list<std::string> notCommitted;
    EXPECT_FALSE(controller->endBackup(notCommitted, false).IsError()) << c.plan;
    ++appId;
  }
}

// Two sends that choose one stream at once both take its handler; it must go back once, or a
// later endBackup would release it twice and the list would grow with every such race.
TEST_F(SendItemTest, HandlerTakenTwiceGoesBackOnce) {
  objstore_testing::ScopedLogCapture capture(2);
  BackupInterfacePtr controller = start(1, 1);
  cacheItem(Guid(0), "k");
  cacheItem(Guid(1), "k");
  const std::string kTaken = "INFO: stream with aFile ID [";
  std::atomic<bool> firstEof(true);
  PipelineFaults::SetCallHook([&](PipelineFaults::Op op, uint32_t) {
    // Hold the first send inside its end-of-file until the second has taken the handler too.
    if (op != PipelineFaults::kSendEof || !firstEof.exchange(false)) return;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (capture.log().countContaining(kTaken) < 2 && std::chrono::steady_clock::now() < limit) {
      std::this_thread::yield();
    }
  });
  std::list<std::string> failedFirst, failedSecond;
  std::thread first([&] {
    controller->sendItem(Guid(0).c_str(), failedFirst, nullptr, nullptr, cache_, context_);
  });
  while (firstEof) std::this_thread::yield();
  std::thread second([&] {
    controller->sendItem(Guid(1).c_str(), failedSecond, nullptr, nullptr, cache_, context_);
  });
  first.join();
  second.join();
  EXPECT_EQ(2u, capture.log().countContaining(kTaken));
  EXPECT_EQ(1u, controller->freeStreamHandlerCount());
}

// A header section after the first is sent as it is, even when empty.
TEST_F(SendItemTest, EmptySecondHeaderSectionIsSentZeroFilled) {
  BackupInterfacePtr controller = start(1, 1);
  std::vector<SectionV> sections(1, headerSection(Guid(0), "k"));
  sections.push_back(SectionV());
  sections.back().type = kSectionStreamHeader;
  ASSERT_FALSE(cache_.writeSegment(Guid(0), sections).IsError());
  ASSERT_FALSE(send(controller, 0).IsError());
  std::list<std::string> notCommitted;
  ASSERT_FALSE(controller->endBackup(notCommitted, true).IsError());

  std::vector<OBJECTOPSAPI::StoreRun> runs;
  ASSERT_FALSE(OBJECTOPSAPI::BackupStoreReader(tmp_.sub("store")).listRuns(&runs).IsError());
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(1, runs[0].manifest.endStatus);
  std::vector<OBJECTOPSAPI::StoreItem> items;
  ASSERT_FALSE(OBJECTOPSAPI::StoreStreamReader::ReadAll(runs[0].streams[0], &items).IsError());
  ASSERT_EQ(1u, items.size());
  ASSERT_EQ(2u, items[0].sections.size());
  EXPECT_EQ(std::string(sizeof(OBJECTOPSAPI::CXFileHeader), '\0'), items[0].sections[1].bytes);
}

// The age rule: a commit is forced under space pressure once 30 seconds have passed since the
// stream's last forced commit, not at 29, and never without pressure. A failed commit request is
// logged, and the item is still sent.
TEST_F(SendItemTest, CommitIsForcedByAgeUnderSpacePressure) {
  struct Case {
    const char* name;
    int64_t secondsLater;
    bool pressure;
    bool commitFails;
    size_t forced;  // forced commits in all; the second item forces the first (never committed)
    size_t failedRequests;
  } cases[] = {
      {"due at 30 s", 30, true, false, 2, 0},
      {"not yet at 29 s", 29, true, false, 1, 0},
      {"no pressure", 30, false, false, 0, 0},
      {"request fails", 30, true, true, 2, 2},
  };
  std::atomic<int64_t> now(1700000000);
  ChangeOptions([&now](BackupOptions& options) { options.clock = [&now] { return now.load(); }; });
  int appId = 1;
  for (const Case& c : cases) {
    PipelineFaults::Clear();
    PipelineFaults::SetManualCommit(true);
    if (c.commitFails) PipelineFaults::FailCall(PipelineFaults::kCommitData, 0);
    cache_.setHighWatermark(c.pressure ? 0 : UINT64_MAX);
    objstore_testing::ScopedLogCapture capture(2);
    BackupInterfacePtr controller = start(appId, 1, appId);
    for (int i = 0; i < 3; ++i) cacheItem(Guid(i), "k");
    EXPECT_FALSE(send(controller, 0).IsError()) << c.name;
    EXPECT_FALSE(send(controller, 1).IsError()) << c.name;
    now += c.secondsLater;
    EXPECT_FALSE(send(controller, 2).IsError()) << c.name;
    EXPECT_EQ(c.forced, capture.log().countContaining("INFO: DiskCache is under space pressure."))
        << c.name;
    EXPECT_EQ(c.failedRequests, capture.log().countContaining("ERROR: failed to commit ["))
        << c.name;
    EXPECT_TRUE(failed_.empty()) << c.name;
    std::list<std::string> notCommitted;
    controller->endBackup(notCommitted, false);
    ++appId;
  }
}

}  // namespace
}  // namespace ObjectStore

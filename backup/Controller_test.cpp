// A backup job through the controller, against the pipeline and disk cache stand-ins.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "BackupStoreReader.h"
#include "ControllerTestFixture.h"
#include "EvEvent.h"
#include "KAPlatformInfo.h"
#include "KaCriticalSectionLock.h"
#include "PipelineErrors.h"
#include "PipelineFaults.h"

namespace ObjectStore {
namespace {

typedef std::chrono::steady_clock Clock;

using OBJECTOPSAPI::PipelineFaults;
using objstore_testing::ControllerTest;
using objstore_testing::Guid;

// Sends `item` and expects success.
void Send(BackupInterfacePtr controller, DirectoryDiskCache& cache, DiskCacheContext& context,
          const std::string& item, int* streamIndex = nullptr) {
  std::list<std::string> failed;
  CUxError error = controller->sendItem(item.c_str(), failed, nullptr, streamIndex, cache, context);
  EXPECT_FALSE(error.IsError()) << item << ": " << error.AsString();
  EXPECT_TRUE(failed.empty());
}

TEST_F(ControllerTest, FullJobReportsEveryItemOnceOldestFirst) {
  BackupInterfacePtr controller = start(1, 3);
  ASSERT_TRUE(controller);
  std::map<int, std::vector<std::string>> sentPerStream;
  int64_t bytes = 0;
  for (int i = 0; i < 12; ++i) {
    cacheItem(Guid(i), std::string(1, static_cast<char>('a' + i)), 2);
    std::list<std::string> failed;
    int index = -1;
    ASSERT_FALSE(
        controller->sendItem(Guid(i).c_str(), failed, &bytes, &index, cache_, context_).IsError());
    sentPerStream[index].push_back(Guid(i));
  }
  EXPECT_EQ(12 * (256 + 20 + 200), bytes);
  EXPECT_EQ(3u, sentPerStream.size());
  std::map<int, uint32_t> aFileIdOfIndex;
  for (int i = 0; i < 3; ++i) aFileIdOfIndex[i] = controller->streamHandlerAt(i)->getAfileID();

  std::list<std::string> failed;
  ASSERT_FALSE(controller->endBackup(failed, true).IsError());
  EXPECT_TRUE(failed.empty());
  EXPECT_FALSE(objstore_testing::PathExists(jobDirectory()));

  std::map<uint32_t, std::vector<std::string>> committedPerStream;
  for (const auto& call : commits_.calls) {
    EXPECT_EQ(&commits_, call.context);
    std::vector<std::string>& items = committedPerStream[call.aFileId];
    items.insert(items.end(), call.items.begin(), call.items.end());
  }
  for (const auto& stream : sentPerStream) {
    EXPECT_EQ(stream.second, committedPerStream[aFileIdOfIndex[stream.first]]);
  }
}

// The pipeline has the commit handler from the job's start: commits made before the host's first
// setCallBack are kept, and that call reports them, so the end neither waits for commits that
// came long ago nor hands back items that are stored. With a later item or without.
TEST_F(ControllerTest, ItemsCommittedBeforeTheCallbackAreReportedByTheFirstCallback) {
  OBJECTOPSAPI::PipelineOptions options = OBJECTOPSAPI::PipelineOptions::Current();
  options.commitItems = 1;  // every item is committed at once
  OBJECTOPSAPI::PipelineOptions::Override(options);
  ChangeOptions([](BackupOptions& options) { options.commitWaitMs = 4000; });
  const int kEarly = 10;
  for (bool laterItem : {true, false}) {
    SCOPED_TRACE(laterItem ? "a later item" : "no later item");
    objstore_testing::ScopedLogCapture capture(2);
    BackupInterfacePtr controller;
    ASSERT_FALSE(
        BackupInterface::getController(job(1, 1, laterItem ? 1 : 2), controller, false).IsError());
    std::vector<std::string> expected;
    for (int i = 0; i < kEarly; ++i) {
      expected.push_back("early-" + std::to_string(i));
      cacheItem(expected.back(), "k");
      std::list<std::string> failed;
      ASSERT_FALSE(
          controller->sendItem(expected.back().c_str(), failed, nullptr, nullptr, cache_, context_)
              .IsError());
    }
    // Every item committed: kept for the callback to come, or (were the handler not there yet)
    // reported to nobody.
    const std::string last = "] at [" + std::to_string(kEarly) + "] ";
    while (capture.log().countContaining((last + "kept").c_str()) == 0 &&
           capture.log().countContaining((last + "not reported").c_str()) == 0) {
      std::this_thread::yield();
    }
    commits_.calls.clear();
    controller->setCallBack(&objstore_testing::CommitLog::OnCommit, &commits_);
    EXPECT_EQ(expected, commits_.committedItems()) << "reported by setCallBack itself";
    if (laterItem) {
      expected.push_back("later");
      cacheItem("later", "k");
      std::list<std::string> failed;
      ASSERT_FALSE(
          controller->sendItem("later", failed, nullptr, nullptr, cache_, context_).IsError());
    }
    std::list<std::string> failed;
    const Clock::time_point before = Clock::now();
    CUxError ended = controller->endBackup(failed, true);
    EXPECT_FALSE(ended.IsError()) << ended.AsString();
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(2000)) << "the end waited in vain";
    EXPECT_EQ(expected, commits_.committedItems());
    EXPECT_TRUE(failed.empty());
  }
}

TEST_F(ControllerTest, SameApplicationGetsTheSameController) {
  objstore_testing::ScopedLogCapture capture(1);
  BackupInterfacePtr first = start(5, 1);
  BackupInterfacePtr second;
  ASSERT_FALSE(BackupInterface::getController(job(5, 1, 200), second, false).IsError());
  EXPECT_EQ(first, second);
  EXPECT_EQ(1u, capture.log().countContaining("INFO: New BackupController ["));
  EXPECT_EQ(1u, capture.log().countContaining("] found in map"));
  EXPECT_EQ(100, second->getJobInfo()->jobId);  // the second description is not taken
}

TEST_F(ControllerTest, ExpiredRegistryEntryGetsANewController) {
  {
    BackupInterfacePtr gone(new BackupInterface(job(6, 1)));
    KaCriticalSectionLock lock(&gObjectCreationLock);
    gObjToAppIdMap[6] = gone;
  }
  BackupInterfacePtr controller = start(6, 1);
  ASSERT_TRUE(controller);
  EXPECT_EQ(1u, controller->streamHandlerCount());
}

// A stream count of 0 is refused before anything is started or written: a job directory left
// behind would pass for a crashed job's at the next start.
TEST_F(ControllerTest, NoStreamsIsRefusedBeforeAnythingIsTouched) {
  objstore_testing::ScopedLogCapture capture(5);
  BackupInterfacePtr controller;
  CUxError error = BackupInterface::getController(job(2, 0), controller, false);
  EXPECT_EQ(5006u, error.GetErrorCode());
  EXPECT_FALSE(controller);
  EXPECT_EQ(0u, registeredControllers(2));
  EXPECT_FALSE(objstore_testing::PathExists(jobDirectory()));
  std::vector<OBJECTOPSAPI::StoreRun> runs;
  OBJECTOPSAPI::BackupStoreReader(tmp_.sub("store")).listRuns(&runs);
  EXPECT_TRUE(runs.empty());
}

// A start that fails after the pipeline job began ends that job, and leaves no job directory
// and no stream record behind; a directory that was there before (a leftover the job took
// over) stays for the restart that needs it.
TEST_F(ControllerTest, FailedStartLeavesNothingBehind) {
  for (bool leftover : {false, true}) {
    SCOPED_TRACE(leftover ? "over a leftover" : "fresh");
    if (leftover) {
      ASSERT_EQ(0, mkdir(jobDirectory().c_str(), 0755));
    }
    const size_t registeredBefore = registeredStreams();
    PipelineFaults::FailCall(PipelineFaults::kGetStreamHandler, 0);  // every request
    BackupInterfacePtr controller;
    CUxError error = BackupInterface::getController(job(2, 3), controller, false);
    PipelineFaults::Clear();
    EXPECT_EQ(5006u, error.GetErrorCode());
    EXPECT_EQ(registeredBefore, registeredStreams());
    EXPECT_EQ(leftover, objstore_testing::PathExists(jobDirectory()));
  }
  std::vector<OBJECTOPSAPI::StoreRun> runs;  // the pipeline was told why the job ended
  ASSERT_FALSE(OBJECTOPSAPI::BackupStoreReader(tmp_.sub("store")).listRuns(&runs).IsError());
  ASSERT_EQ(2u, runs.size());
  EXPECT_EQ(2, runs[0].manifest.endStatus);
}

TEST_F(ControllerTest, FailedHandlerRequestOnlyShortensTheStreamSet) {
  const size_t registeredBefore = registeredStreams();
  PipelineFaults::FailCall(PipelineFaults::kGetStreamHandler, 2);
  BackupInterfacePtr controller = start(3, 3);
  ASSERT_TRUE(controller);
  EXPECT_EQ(2u, controller->streamHandlerCount());
  EXPECT_EQ(registeredBefore + 2, registeredStreams());
}

TEST_F(ControllerTest, StreamChoiceFollowsTheChecksum) {
  struct Case {
    uint32_t streams;
    std::string key;
    int index;
  } cases[] = {
      {3, "abc", 97 % 3}, {3, "\xFD", 1},  // -3 as a large unsigned number
      {5, "\xFD", 3},     {1, "zzz", 0},  {4, "", 0},
  };
  int appId = 10;
  for (const Case& c : cases) {
    BackupInterfacePtr controller = start(appId, c.streams, appId);
    const std::string item = Guid(appId);
    cacheItem(item, c.key);
    int index = -1;
    Send(controller, cache_, context_, item, &index);
    EXPECT_EQ(c.index, index) << c.streams << " streams, key size " << c.key.size();
    std::list<std::string> failed;
    controller->endBackup(failed, false);
    ++appId;
  }
}

TEST_F(ControllerTest, UnreadableItemsChangeNothing) {
  BackupInterfacePtr controller = start(4, 2);
  std::vector<SectionV> noHeader(1);
  noHeader[0].type = kSectionFileData;
  ASSERT_FALSE(cache_.writeSegment("no-header", noHeader).IsError());
  std::vector<SectionV> shortHeader(1, headerSection(Guid(1), "k"));
  shortHeader[0].data.resize(150);
  ASSERT_FALSE(cache_.writeSegment("short-header", shortHeader).IsError());
  std::vector<SectionV> noComma(1, headerSection(Guid(2), "k"));
  noComma[0].data[172] = 'x';
  ASSERT_FALSE(cache_.writeSegment("no-comma", noComma).IsError());

  objstore_testing::ScopedEventCapture events;
  const struct {
    const char* item;
    uint32_t code;
  } cases[] = {{"missing", 2}, {"no-header", 30}, {"short-header", 30}, {"no-comma", 30}};
  for (const auto& c : cases) {
    std::list<std::string> failed(1, "earlier");
    int64_t bytes = 5;
    int index = -7;
    CUxError error = controller->sendItem(c.item, failed, &bytes, &index, cache_, context_);
    EXPECT_EQ(c.code, error.GetErrorCode()) << c.item;
    EXPECT_EQ(1u, failed.size());
    EXPECT_EQ(5, bytes);
    EXPECT_EQ(-7, index);
  }
  ASSERT_EQ(4u, events.events().size());
  EXPECT_EQ(0x4A0004E9, events.events()[0].eventId);
  EXPECT_EQ(std::vector<std::string>(1, "missing"), events.events()[0].arguments);
  KaCriticalSectionLock lock(&gStreamLock);
  for (const auto& stream : gStreams) EXPECT_EQ(0u, stream.second->getUncommittedCount());
}

TEST_F(ControllerTest, OversizedSectionIsRefusedBeforeAnythingIsRecorded) {
  ChangeOptions([](BackupOptions& options) { options.maxSectionBytes = 150; });
  BackupInterfacePtr controller = start(4, 1);
  cacheItem("big", "k", 1, 151);
  std::list<std::string> failed;
  int index = -1;
  CUxError error = controller->sendItem("big", failed, nullptr, &index, cache_, context_);
  EXPECT_EQ(static_cast<uint32_t>(kErrSectionTooLarge), error.GetErrorCode());
  EXPECT_EQ(-1, index);
  EXPECT_EQ(1u, controller->freeStreamHandlerCount());
  KaCriticalSectionLock lock(&gStreamLock);
  EXPECT_EQ(0u, gStreams.begin()->second->getUncommittedCount());
}

TEST_F(ControllerTest, HeaderSendFailureHandsBackTheWholeStream) {
  PipelineFaults::SetManualCommit(true);
  PipelineFaults::FailCall(PipelineFaults::kSendHeader, 3);
  BackupInterfacePtr controller = start(4, 1);
  for (int i = 0; i < 3; ++i) cacheItem(Guid(i), "k");
  Send(controller, cache_, context_, Guid(0));
  Send(controller, cache_, context_, Guid(1));
  std::list<std::string> failed(1, "earlier");
  int64_t bytes = 0;
  CUxError error = controller->sendItem(Guid(2).c_str(), failed, &bytes, nullptr, cache_, context_);
  EXPECT_EQ(static_cast<uint32_t>(OBJECTOPSAPI::kPipelineInjectedFault), error.GetErrorCode());
  EXPECT_EQ((std::list<std::string>{"earlier", Guid(0), Guid(1), Guid(2)}), failed);
  EXPECT_EQ(0, bytes);
  EXPECT_EQ(1u, controller->freeStreamHandlerCount());

  // The pipeline still counts the three items it saw; that commit must not report the
  // next item, which it has not stored yet.
  cacheItem(Guid(3), "k");
  Send(controller, cache_, context_, Guid(3));
  const uint32_t aFileId = controller->streamHandlerAt(0)->getAfileID();
  ASSERT_FALSE(PipelineFaults::DeliverCommit(aFileId, "3").IsError());
  EXPECT_TRUE(commits_.committedItems().empty());
  ASSERT_FALSE(PipelineFaults::DeliverCommit(aFileId, "4").IsError());
  EXPECT_EQ(std::vector<std::string>(1, Guid(3)), commits_.committedItems());
}

// A host that removes its callback mid-job loses nothing: the commits that come meanwhile keep
// their items, and the callback set next gets them at once.
TEST_F(ControllerTest, CommitsWhileNoCallbackIsSetGoToTheNextCallback) {
  PipelineFaults::SetManualCommit(true);
  BackupInterfacePtr controller = start(4, 1);
  for (int i = 0; i < 3; ++i) cacheItem(Guid(i), "k");
  const uint32_t aFileId = controller->streamHandlerAt(0)->getAfileID();
  Send(controller, cache_, context_, Guid(0));
  controller->setCallBack(nullptr, nullptr);
  Send(controller, cache_, context_, Guid(1));
  ASSERT_FALSE(PipelineFaults::DeliverCommit(aFileId, "2").IsError());
  EXPECT_TRUE(commits_.committedItems().empty());
  EXPECT_EQ(2u, registeredStream(aFileId)->getUncommittedCount());

  controller->setCallBack(&objstore_testing::CommitLog::OnCommit, &commits_);
  EXPECT_EQ((std::vector<std::string>{Guid(0), Guid(1)}), commits_.committedItems());
  Send(controller, cache_, context_, Guid(2));
  ASSERT_FALSE(PipelineFaults::DeliverCommit(aFileId, "3").IsError());
  EXPECT_EQ((std::vector<std::string>{Guid(0), Guid(1), Guid(2)}), commits_.committedItems());
}

// A pipeline that throws while the job's streams are handed out: the start is undone before the
// exception reaches the host, so no stream record or job directory stays behind.
TEST_F(ControllerTest, StartThatThrowsLeavesNothingBehind) {
  PipelineFaults::FailCall(PipelineFaults::kGetStreamHandler, 2, PipelineFaults::kAnyStream, false,
                           true);
  const size_t streamsBefore = registeredStreams();
  BackupInterfacePtr controller;
  EXPECT_THROW(BackupInterface::getController(job(4, 3), controller, false),
               PipelineFaults::InjectedException);
  EXPECT_FALSE(controller);
  EXPECT_EQ(streamsBefore, registeredStreams());
  EXPECT_EQ(0u, registeredControllers(4));
  struct stat st;
  EXPECT_NE(0, stat(jobDirectory().c_str(), &st));
}

class ForcedCommitTest : public ControllerTest {
 protected:
  void sendThree(bool pressure, uint32_t limit) {
    KAPlatformInfo().setNumber("Tarn", "nMaxUncommittedExtents", limit);
    PipelineFaults::SetManualCommit(true);
    BackupInterfacePtr controller = start(4, 1);
    for (int i = 0; i < 3; ++i) cacheItem(Guid(i), "k");
    cache_.setHighWatermark(pressure ? 0 : UINT64_MAX);
    for (int i = 0; i < 3; ++i) Send(controller, cache_, context_, Guid(i));
  }
  size_t forcedCommits() {
    return capture_.log().countContaining("INFO: DiskCache is under space pressure. Will commit");
  }
  objstore_testing::ScopedLogCapture capture_{2};
};

TEST_F(ForcedCommitTest, FirstCommitIsDueAtOnceThenByCount) {
  sendThree(true, 2);
  // Item 1 finds the stream empty; item 2 finds a stream never committed; item 3 finds two
  // uncommitted items, the limit.
  EXPECT_EQ(2u, forcedCommits());
}

TEST_F(ForcedCommitTest, NotDueBelowTheLimitWithinThirtySeconds) {
  sendThree(true, 1000);
  EXPECT_EQ(1u, forcedCommits());
}

TEST_F(ForcedCommitTest, NeverWithoutSpacePressure) {
  sendThree(false, 1);
  EXPECT_EQ(0u, forcedCommits());
}

}  // namespace
}  // namespace ObjectStore

namespace ObjectStore {
namespace {

TEST_F(ControllerTest, EndOfFileFailureHandsBackAndLaterCommitsStayAligned) {
  PipelineFaults::SetManualCommit(true);
  PipelineFaults::FailCall(PipelineFaults::kSendEof, 2);
  BackupInterfacePtr controller = start(4, 1);
  for (int i = 0; i < 3; ++i) cacheItem(Guid(i), "k");
  Send(controller, cache_, context_, Guid(0));
  std::list<std::string> failed;
  CUxError error =
      controller->sendItem(Guid(1).c_str(), failed, nullptr, nullptr, cache_, context_);
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ((std::list<std::string>{Guid(0), Guid(1)}), failed);

  // The pipeline counts the abandoned item, so the third item is exactly its third.
  Send(controller, cache_, context_, Guid(2));
  const uint32_t aFileId = controller->streamHandlerAt(0)->getAfileID();
  ASSERT_FALSE(PipelineFaults::DeliverCommit(aFileId, "2").IsError());
  EXPECT_TRUE(commits_.committedItems().empty());
  ASSERT_FALSE(PipelineFaults::DeliverCommit(aFileId, "3").IsError());
  EXPECT_EQ(std::vector<std::string>(1, Guid(2)), commits_.committedItems());
}

}  // namespace
}  // namespace ObjectStore

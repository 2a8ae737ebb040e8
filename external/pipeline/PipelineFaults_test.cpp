#include "PipelineFaults.h"
#include "PipelineErrors.h"
#include "testing/PipelineTestSupport.h"

namespace pipeline_testing {
namespace {

typedef PipelineTest PipelineFaultsTest;

TEST_F(PipelineFaultsTest, SpecSyntax) {
  const char* good[] = {"",
                        " sendHeader ",
                        "sendHeader=3,sendEof@2=1",
                        "commitData=2+",
                        "manualCommit,commitDelay=5",
                        "getController,endBackup,getStreamHandler=2",
                        "sendMetaData@7,sendUserBufData=1+",
                        "flowWindow=1,commitDelay=2",
                        "sendEof=2:throw,sendHeader@3=1+:throw",
                        "diskFullAfter=0",
                        "diskFullAfter=64KiB"};
  for (const char* spec : good) {
    EXPECT_FALSE(PipelineFaults::Install(spec).IsError()) << spec;
  }
  // Every refusal says why, in one line.
  const struct {
    const char* spec;
    const char* reason;
  } bad[] = {
      {"sendheader", "unknown operation [sendheader]; the operations are sendHeader,"},
      {"sendHeader=0", "call number [0] is not a number from 1 to"},
      {"sendHeader=x", "call number [x]"},
      {"sendEof@0", "aFile ID [0] is not a number from 1 to 4294967295"},
      {"sendEof@=1", "aFile ID []"},
      {"commitDelay=", "not a number from 0 to 4294967295"},
      {"sendHeader=1++", "call number [1+]"},
      {"manualCommit=1", "unknown operation [manualCommit]"},
      {"sendHeader@4294967296", "aFile ID [4294967296]"},
      {"endBackup@1", "endBackup has no stream: @<aFileId> only applies to sendHeader,"},
      {"getStreamHandler@1=3", "getStreamHandler has no stream"},
      {"diskFullAfter=1TB", "not a number of bytes, KiB, MiB or GiB"},
      {",,,", "empty fault rule in [,,,]"},
      {"sendHeader,", "empty fault rule"},
      {" ", "empty fault rule"},
      {"flowWindow=0", "the window is not a number from 1 to 4294967295"},
      {"flowWindow=", "the window is not a number from 1"},
      {"sendEof:thrown", "unknown operation [sendEof:thrown]"},
      {":throw", "unknown operation [:throw]"},
      {"flowWindow=1,manualCommit", "flowWindow waits for commits, and manualCommit stops them"},
  };
  for (const auto& c : bad) {
    const CUxError error = PipelineFaults::Install(c.spec);
    EXPECT_EQ(kPipelineInvalidArgument, error.GetErrorCode()) << c.spec;
    EXPECT_NE(std::string::npos, error.GetMessage().find(c.reason)) << error.GetMessage();
    EXPECT_EQ(std::string::npos, error.GetMessage().find('\n')) << error.GetMessage();
  }
  EXPECT_FALSE(PipelineFaults::ManualCommit());  // the bad specs changed nothing
  EXPECT_EQ(0u, PipelineFaults::FlowWindow());
}

// However an item ends, its end-of-file call counts it: the stream's sequence number is the
// number of sendEof calls, so a caller that counts them stays aligned with the commits.
TEST_F(PipelineFaultsTest, EveryEndOfFileCountsOneItem) {
  struct Case {
    const char* name;
    const char* plan;  // faults for the second of three items
    bool throws;
  } cases[] = {
      {"failed flag", "", false},
      {"header refused", "sendHeader=2", false},
      {"header and end-of-file refused", "sendHeader=2,sendEof=2", false},
      {"end-of-file refused", "sendEof=2", false},
      {"end-of-file throws", "sendEof=2:throw", true},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(PipelineFaults::Install(c.plan).IsError());
    CSynchronousBackupPtr job = startJob(1);
    boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
    CStreamHandlerPtr handler = stream(job);
    ASSERT_FALSE(SendItem(handler, "a").IsError());
    if (c.throws) {
      EXPECT_THROW(SendItem(handler, "b"), PipelineFaults::InjectedException) << c.name;
    } else {
      SendItem(handler, "b", "data", false);
    }
    ASSERT_FALSE(SendItem(handler, "c").IsError());
    ASSERT_FALSE(handler->commitData().IsError());
    EXPECT_TRUE(recorder->waitForSequence(handler->getAfileID(), "3")) << c.name;
    std::vector<StoreItem> stored = items(handler->getAfileID());
    ASSERT_EQ(3u, stored.size()) << c.name;
    EXPECT_FALSE(stored[1].success) << c.name;
    EXPECT_TRUE(stored[2].success) << c.name;
    EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  }
}

// Under a flow window of n, an end-of-file returns once fewer than n ended items wait for their
// commit to be reported: with n = 1, each item's own commit has been reported by then.
TEST_F(PipelineFaultsTest, FlowWindowHoldsTheEndOfFileUntilCommitsAreReported) {
  for (uint32_t window : {1u, 3u}) {
    PipelineFaults::Clear();
    PipelineFaults::SetFlowWindow(window);
    CSynchronousBackupPtr job = startJob(1);
    boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
    CStreamHandlerPtr handler = stream(job);
    for (uint64_t sent = 1; sent <= 7; ++sent) {
      ASSERT_FALSE(SendItem(handler, std::to_string(sent)).IsError());
      uint64_t reported = 0;
      for (const Notification& n : recorder->notifications()) reported = std::stoull(n.sequence);
      EXPECT_LT(sent - reported, window) << "window " << window << ", item " << sent;
    }
    EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  }
}

// With nobody to report to, a commit still makes room: the end-of-file does not wait forever.
TEST_F(PipelineFaultsTest, FlowWindowWithoutCommitHandlerDoesNotWait) {
  PipelineFaults::SetFlowWindow(1);
  CSynchronousBackupPtr job = startJob(1);
  CStreamHandlerPtr handler = stream(job);
  EXPECT_FALSE(SendItem(handler, "a").IsError());
  EXPECT_FALSE(SendItem(handler, "b").IsError());
  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  EXPECT_EQ(2u, items(handler->getAfileID()).size());
}

// Sends items "0", "1", ... until one fails; returns which did.
int FirstFailingItem(const CStreamHandlerPtr& handler, int tries, CUxError* error) {
  for (int i = 0; i < tries; ++i) {
    *error = SendItem(handler, std::to_string(i));
    if (error->IsError()) return i;
  }
  return -1;
}

TEST_F(PipelineFaultsTest, NthSendFailsAndWritesNothingOfThatCall) {
  struct Case {
    const char* spec;
    size_t sections;  // sections stored of the failing item
    bool success;     // whether it is stored as successful
    bool ended;       // ended by its own end-of-file record, not abandoned
  } cases[] = {
      {"sendHeader=3", 0, false, true},
      {"sendMetaData=3", 1, false, true},
      {"sendUserBufData=3", 2, false, true},
      {"sendEof=3", 3, false, false},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(PipelineFaults::Install(c.spec).IsError());
    CSynchronousBackupPtr job = startJob(1);
    CStreamHandlerPtr handler = stream(job);
    CUxError error;
    EXPECT_EQ(2, FirstFailingItem(handler, 5, &error)) << c.spec;
    EXPECT_EQ(kPipelineInjectedFault, error.GetErrorCode());
    EXPECT_NE(std::string::npos, error.GetMessage().find("call 3")) << error.GetMessage();
    ASSERT_FALSE(SendItem(handler, "after").IsError());  // the stream goes on
    ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());

    // An item whose end-of-file record failed is ended as abandoned: it counts as a failed
    // item and does not merge into the next one.
    std::vector<StoreItem> stored = items(handler->getAfileID());
    ASSERT_EQ(4u, stored.size()) << c.spec;
    EXPECT_EQ(c.sections, stored[2].sections.size()) << c.spec;
    EXPECT_EQ(c.success, stored[2].success) << c.spec;
    EXPECT_EQ(c.ended, stored[2].reason.empty()) << c.spec;
    EXPECT_EQ(3u, stored[3].sections.size()) << c.spec;
  }
}

TEST_F(PipelineFaultsTest, StreamRuleCountsOnlyThatStreamAndPlusKeepsFailing) {
  CSynchronousBackupPtr job = startJob(2);
  CStreamHandlerPtr first = stream(job), second = stream(job);
  PipelineFaults::FailCall(PipelineFaults::kSendHeader, 2, second->getAfileID(), true);
  CUxError error;
  EXPECT_EQ(-1, FirstFailingItem(first, 4, &error));
  EXPECT_EQ(1, FirstFailingItem(second, 4, &error));
  EXPECT_EQ(0, FirstFailingItem(second, 4, &error));  // call 3 fails as well
}

TEST_F(PipelineFaultsTest, FailedGetStreamHandlerUsesNoStream) {
  ASSERT_FALSE(PipelineFaults::Install("getStreamHandler=2").IsError());
  CSynchronousBackupPtr job = startJob(2);
  CStreamHandlerPtr handler;
  EXPECT_FALSE(job->getStreamHandler(handler).IsError());
  EXPECT_EQ(kPipelineInjectedFault, job->getStreamHandler(handler).GetErrorCode());
  EXPECT_FALSE(job->getStreamHandler(handler).IsError());
  EXPECT_EQ(kPipelineStreamLimit, job->getStreamHandler(handler).GetErrorCode());
}

TEST_F(PipelineFaultsTest, GetControllerAndEndBackupFail) {
  ASSERT_FALSE(PipelineFaults::Install("getController=1,endBackup=1").IsError());
  JobInfoPtr info(new JobInfo());
  CSynchronousBackupPtr job;
  EXPECT_EQ(kPipelineInjectedFault, CSynchronousBackup::getController(info, job).GetErrorCode());
  EXPECT_TRUE(runs().empty());

  job = startJob(1);
  CStreamHandlerPtr handler = stream(job);
  EXPECT_EQ(kPipelineInjectedFault, job->endBackup(KA_JOB_STATUS_COMPLETED).GetErrorCode());
  EXPECT_FALSE(SendItem(handler, "still running").IsError());
  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  EXPECT_TRUE(runs()[0].manifest.ended);
}

TEST_F(PipelineFaultsTest, FailedCommitDataCommitsNothing) {
  ASSERT_FALSE(PipelineFaults::Install("commitData=1").IsError());
  CSynchronousBackupPtr job = startJob(1);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  EXPECT_EQ(kPipelineInjectedFault, handler->commitData().GetErrorCode());
  ASSERT_FALSE(SendItem(handler, "b").IsError());
  ASSERT_FALSE(handler->commitData().IsError());
  ASSERT_TRUE(recorder->waitForSequence(handler->getAfileID(), "2"));
  EXPECT_EQ(1u, recorder->notifications().size());
}

TEST_F(PipelineFaultsTest, PlanFromTheEnvironment) {
  objstore_testing::ScopedEnv env("OBJSTORE_PIPELINE_FAULTS",
                                  "sendEof=1,manualCommit,commitDelay=3");
  ASSERT_FALSE(PipelineFaults::InstallFromEnvironment().IsError());
  EXPECT_TRUE(PipelineFaults::ManualCommit());
  EXPECT_EQ(3u, PipelineFaults::CommitDelayMs());
  EXPECT_EQ(kPipelineInjectedFault,
            PipelineFaults::Check(PipelineFaults::kSendEof, 9).GetErrorCode());
  EXPECT_FALSE(PipelineFaults::Check(PipelineFaults::kSendEof, 9).IsError());
}

TEST_F(PipelineFaultsTest, ManualCommitDeliversWhateverTheTestSays) {
  setOptions(1, 1, 1);  // would commit at once if commits were automatic
  PipelineFaults::SetManualCommit(true);
  CSynchronousBackupPtr job = startJob(1);
  CStreamHandlerPtr handler = stream(job);
  uint32_t id = handler->getAfileID();
  EXPECT_EQ(kPipelineNoCallback, PipelineFaults::DeliverCommit(id, "1").GetErrorCode());
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  ASSERT_FALSE(handler->commitData().IsError());

  const char* texts[] = {"5", "5", "2", "garbage", ""};
  for (const char* text : texts) EXPECT_FALSE(PipelineFaults::DeliverCommit(id, text).IsError());
  ASSERT_FALSE(PipelineFaults::PostCommit(id, "9").IsError());
  ASSERT_TRUE(recorder->waitForSequence(id, "9"));
  EXPECT_EQ(kPipelineUnknownStream, PipelineFaults::DeliverCommit(id + 1000, "1").GetErrorCode());

  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  std::vector<Notification> all = recorder->notifications();
  ASSERT_EQ(6u, all.size());  // nothing but what the test delivered
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(texts[i], all[i].sequence);
    EXPECT_EQ(std::this_thread::get_id(), all[i].thread);
  }
  EXPECT_NE(std::this_thread::get_id(), all[5].thread);
  EXPECT_TRUE(items(id)[0].committed);  // the end still synced the store
  EXPECT_EQ(kPipelineUnknownStream, PipelineFaults::DeliverCommit(id, "1").GetErrorCode());
}

TEST_F(PipelineFaultsTest, CommitDelayHoldsBackTheNotification) {
  PipelineFaults::SetCommitDelayMs(30);
  CSynchronousBackupPtr job = startJob(1);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  auto start = std::chrono::steady_clock::now();
  ASSERT_FALSE(handler->commitData().IsError());
  ASSERT_TRUE(recorder->waitForSequence(handler->getAfileID(), "1"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
}

}  // namespace
}  // namespace pipeline_testing

// The host's backup job: failed lists are sent again until every object is committed, objects
// that keep failing are reported by name, and job directories left by a run that died make a
// restart thread resend the cache first.
#include "BackupRun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "HostTestTree.h"
#include "Ingester.h"
#include "KAPlatformInfo.h"
#include "KaCriticalSectionLock.h"
#include "ObjectId.h"
#include "PipelineFaults.h"
#include "PipelineOptions.h"
#include "RestartRegistration.h"
#include "Summary.h"
#include "TestSupport.h"
#include "Verifier.h"

namespace objstore_host {
namespace {

const int kFiles = 30;

class BackupRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteTestTree(dir_.sub("src"), kFiles));
    IngestOptions ingest;
    ingest.sourceDir = dir_.sub("src");
    ingest.cacheDir = dir_.sub("cache");
    ingest.extentSize = 16 << 10;
    ASSERT_TRUE(Ingester(ingest, nullptr).run().ok());
    // Commits every few items, so notifications arrive while items are still being sent.
    OBJECTOPSAPI::PipelineOptions pipeline;
    pipeline.commitItems = 4;
    OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  }

  void TearDown() override {
    OBJECTOPSAPI::PipelineFaults::Clear();
    OBJECTOPSAPI::PipelineOptions::ClearOverride();
  }

  BackupOptions options() const {
    BackupOptions options;
    options.cacheDir = dir_.sub("cache");
    options.rootBase = dir_.sub("root");
    options.storeDir = dir_.sub("store");
    options.jobId = 43;
    return options;
  }

  VerifyResult verify() const {
    VerifyOptions verify;
    verify.storeDir = dir_.sub("store");
    verify.sourceDir = dir_.sub("src");
    return Verifier(verify, nullptr).run();
  }

  void writeLeftoverJob(int64_t jobId, int32_t appId) const {
    const std::string jobDir = dir_.sub("root/OBJECTSTORE/") + std::to_string(jobId);
    std::filesystem::create_directories(jobDir);
    ASSERT_TRUE(objstore_testing::WriteFile(jobDir + "/JOB_INFO", std::to_string(jobId) +
                                                                      "\nobjstore-backup\n2\t1\t"
                                                                      "101\n2\t" +
                                                                      std::to_string(appId) +
                                                                      "\t0\n0\t\n\t0\n\n"));
  }

  objstore_testing::TempDir dir_;
  objstore_testing::ScopedEnv settings_{"OBJSTORE_SETTINGS_FILE", dir_.sub("settings")};
  objstore_testing::ScopedLogCapture log_{1};
};

TEST_F(BackupRunTest, FailedSendsAreSentAgainUntilEveryObjectIsCommitted) {
  ASSERT_FALSE(OBJECTOPSAPI::PipelineFaults::Install(
                   "sendHeader=3,sendMetaData=11,sendUserBufData=17,sendEof=23")
                   .IsError());
  const BackupResult result = BackupRun(options(), nullptr).run();

  EXPECT_TRUE(result.ok()) << result.error;
  // Four faults, but the failed end-of-file may be that of an item whose send already failed.
  EXPECT_GE(result.sendFailures, 3u);
  EXPECT_LE(result.sendFailures, 4u);
  EXPECT_GE(result.handedBack, result.sendFailures);
  EXPECT_GE(result.resent, result.sendFailures);
  EXPECT_EQ(static_cast<uint64_t>(kFiles), result.committed);
  EXPECT_EQ(0, CountSegments(dir_.sub("cache")));  // committed objects leave the cache
  EXPECT_EQ(static_cast<uint64_t>(kFiles), result.removed);
  EXPECT_GT(result.sendAndCommitSeconds, 0);
  const VerifyResult verified = verify();
  EXPECT_TRUE(verified.ok());
  EXPECT_EQ(static_cast<uint64_t>(kFiles), verified.verified);
  EXPECT_GE(verified.walk.failedCopies, 3u);  // the failed copies are in the store, marked so
}

TEST_F(BackupRunTest, AJobThatNeverStartedSaysSoAndHasNoRate) {
  ASSERT_FALSE(OBJECTOPSAPI::PipelineFaults::Install("getController=1+").IsError());
  const BackupResult result = BackupRun(options(), nullptr).run();

  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.jobStarted);
  EXPECT_EQ(0u, result.committed);
  ASSERT_EQ(static_cast<size_t>(kFiles), result.notCommitted.size());
  for (const auto& reason : result.reasons) {
    EXPECT_EQ("not sent: the backup job did not start", reason.second) << reason.first;
  }
  const Summary summary = BackupSummary(result);
  EXPECT_FALSE(summary.at("job_started").get<bool>());
  EXPECT_FALSE(summary.contains("items_per_second"));
  EXPECT_FALSE(summary.contains("mib_per_second"));
  EXPECT_EQ(static_cast<uint64_t>(kFiles), summary.at("left_for_the_next_run").get<uint64_t>());

  OBJECTOPSAPI::PipelineFaults::Clear();
  const BackupResult started = BackupRun(options(), nullptr).run();
  EXPECT_TRUE(started.jobStarted);
  EXPECT_TRUE(BackupSummary(started).contains("items_per_second"));
}

TEST_F(BackupRunTest, RemovalInTheBackgroundIsCompleteOnceFinishedOrDestroyed) {
  BackupOptions background = options();
  background.removalInBackground = true;
  {
    BackupRun run(background, nullptr);
    const BackupResult atTheEnd = run.run();
    EXPECT_TRUE(atTheEnd.ok()) << atTheEnd.error;
    EXPECT_EQ(static_cast<uint64_t>(kFiles), atTheEnd.committed);  // final before the removal
    const BackupResult finished = run.finishRemoval();
    EXPECT_EQ(static_cast<uint64_t>(kFiles), finished.removed);
    EXPECT_EQ(0, CountSegments(dir_.sub("cache")));
    EXPECT_EQ(finished.removed, run.finishRemoval().removed);
  }
  // Left to the destructor, the removal still completes (and never outlives the cache).
  ASSERT_TRUE(WriteTestTree(dir_.sub("src2"), kFiles));
  IngestOptions ingest;
  ingest.sourceDir = dir_.sub("src2");
  ingest.cacheDir = dir_.sub("cache");
  ASSERT_TRUE(Ingester(ingest, nullptr).run().ok());
  background.jobId = 44;
  { EXPECT_TRUE(BackupRun(background, nullptr).run().ok()); }
  EXPECT_EQ(0, CountSegments(dir_.sub("cache")));
}

TEST_F(BackupRunTest, SendsThatThrowAreSentAgainToo) {
  ASSERT_FALSE(
      OBJECTOPSAPI::PipelineFaults::Install("sendHeader=3:throw,sendEof=9:throw,flowWindow=2")
          .IsError());
  const BackupResult result = BackupRun(options(), nullptr).run();
  EXPECT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(2u, result.sendFailures);
  EXPECT_EQ(static_cast<uint64_t>(kFiles), result.committed);
  EXPECT_TRUE(verify().ok());
}

TEST_F(BackupRunTest, ObjectsThatKeepFailingAreReportedByName) {
  ASSERT_FALSE(OBJECTOPSAPI::PipelineFaults::Install("sendUserBufData=1+").IsError());
  BackupOptions failing = options();
  failing.resendRounds = 2;
  const BackupResult result = BackupRun(failing, nullptr).run();

  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(result.error.empty()) << result.error;
  EXPECT_EQ(2u, result.resendRoundsUsed);
  // Only the empty file has no data to fail, but it may be handed back with its stream's items.
  const std::string emptyFile = ObjectGuid("sub/file-0");
  EXPECT_GE(result.notCommitted.size(), static_cast<size_t>(kFiles - 1));
  EXPECT_EQ(static_cast<uint64_t>(kFiles), result.committed + result.notCommitted.size());
  for (const std::string& item : result.notCommitted) {
    if (item == emptyFile) continue;
    EXPECT_NE(std::string::npos, result.reasons.at(item).find("sendUserBufData")) << item;
  }
  // Still there for the next run.
  EXPECT_EQ(static_cast<int>(result.notCommitted.size()), CountSegments(dir_.sub("cache")));
}

TEST_F(BackupRunTest, LeftoverJobOfTheApplicationStartsARestartThread) {
  writeLeftoverJob(41, 1);
  writeLeftoverJob(42, 9);  // another application's: left alone
  const BackupResult result = BackupRun(options(), nullptr).run();

  EXPECT_TRUE(result.ok()) << result.error;
  EXPECT_TRUE(result.restarted);
  // The other threads waited in getController while the restart thread sent everything.
  EXPECT_EQ(static_cast<uint64_t>(kFiles), result.restartItems);
  EXPECT_EQ(std::vector<std::string>{dir_.sub("root/OBJECTSTORE/41")}, result.leftoverDirsRemoved);
  EXPECT_EQ(std::vector<std::string>{dir_.sub("root/OBJECTSTORE/42")}, result.leftoverDirsKept);
  EXPECT_FALSE(objstore_testing::PathExists(dir_.sub("root/OBJECTSTORE/41")));
  EXPECT_TRUE(objstore_testing::PathExists(dir_.sub("root/OBJECTSTORE/42")));
  KaCriticalSectionLock lock(&ObjectStore::gThreadSyncLock);
  EXPECT_TRUE(ObjectStore::gThreadSyncMap.empty());
}

TEST_F(BackupRunTest, NoLeftoverMeansNoRestart) {
  const BackupResult result = BackupRun(options(), nullptr).run();
  EXPECT_TRUE(result.ok()) << result.error;
  EXPECT_FALSE(result.restarted);
  EXPECT_EQ(0u, result.restartItems);
  EXPECT_FALSE(objstore_testing::PathExists(dir_.sub("root/OBJECTSTORE/43")));
}

// Failures of the library's root are reported with their cause, not a bare error code: the log
// that would say more lives under that root.
TEST_F(BackupRunTest, RootFailuresNameTheirCause) {
  BackupOptions onAFile = options();
  onAFile.rootBase = dir_.sub("a-file");
  ASSERT_TRUE(objstore_testing::WriteFile(onAFile.rootBase, "not a directory"));
  BackupResult result = BackupRun(onAFile, nullptr).run();
  EXPECT_EQ("the root base [" + onAFile.rootBase + "] (--root) is not a directory", result.error);

  // The job's JOB_INFO on a device that is always full plays a full disk under the root.
  const std::string jobDir = dir_.sub("root/OBJECTSTORE/43");
  std::filesystem::create_directories(jobDir);
  ASSERT_EQ(0, symlink("/dev/full", (jobDir + "/JOB_INFO").c_str()));
  result = BackupRun(options(), nullptr).run();
  EXPECT_NE(std::string::npos, result.error.find("jobCache init failed (error 774 = 0x306)"))
      << result.error;
  EXPECT_NE(std::string::npos, result.error.find("No space left on device")) << result.error;
  EXPECT_EQ(0u, result.committed);
}

TEST_F(BackupRunTest, HighWatermarkMakesTheLibraryForceCommits) {
  // Above the watermark, a stream with more uncommitted items than the limit asks the pipeline
  // to commit; each such request here fails, and the items still get committed in the end.
  ASSERT_NE(0, KAPlatformInfo().setNumber("Tarn", "nMaxUncommittedExtents", 2));
  OBJECTOPSAPI::PipelineOptions pipeline;
  pipeline.commitItems = 0;
  pipeline.commitMs = 0;
  OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  ASSERT_FALSE(OBJECTOPSAPI::PipelineFaults::Install("commitData").IsError());
  BackupOptions forced = options();
  forced.highWatermark = 0;
  const BackupResult result = BackupRun(forced, nullptr).run();
  EXPECT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(static_cast<uint64_t>(kFiles), result.committed);
  EXPECT_GT(log_.log().countContaining("injecting a fault into commitData"), 0u);
}

TEST(RestartRegistrationTest, ControllerRequestsWaitUntilTheRestartThreadFinishes) {
  objstore_testing::ScopedLogCapture log(-1);
  RestartRegistration restart(7);
  std::atomic<bool> returned(false);
  std::thread waiter([&returned] {
    ObjectStore::BackupInterface::waitForRestartThread(7, false);
    returned = true;
  });
  ObjectStore::BackupInterface::waitForRestartThread(7, true);   // the restart thread passes
  ObjectStore::BackupInterface::waitForRestartThread(8, false);  // other applications pass
  EXPECT_FALSE(returned);
  restart.finish();
  waiter.join();
  EXPECT_TRUE(returned);
  restart.finish();  // a second call changes nothing
  KaCriticalSectionLock lock(&ObjectStore::gThreadSyncLock);
  EXPECT_EQ(0u, ObjectStore::gThreadSyncMap.count(7));
}

}  // namespace
}  // namespace objstore_host

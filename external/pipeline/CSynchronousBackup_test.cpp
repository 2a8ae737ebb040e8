#include <set>

#include "CSynchronousBackup.h"
#include "PipelineErrors.h"
#include "testing/PipelineTestSupport.h"

namespace pipeline_testing {
namespace {

class SettingConfigurator : public PipelineConfiurator {
 public:
  CUxError configurePipelineArguments(SetupPipelineArgs_t* args, FVBasePtr) override {
    seenStreams = args->numStreams;
    seenJobId = args->jobId;
    PipelineExtraConfig_t* extra = new PipelineExtraConfig_t();
    extra->configText1 = "line\nbreak";
    extra->configText3 = "%NFS_OBJSTORE%";
    extra->configNumbers = {1, 18446744073709551615ull};
    args->extraConfig = extra;  // the pipeline frees it
    args->extraSetting = 42;
    return CUxError();
  }
  CUxError configureArchiveArguments(CreateArgs_t* args, FVBasePtr) override {
    args->archiveFlags |= 0x200000;
    return CUxError();
  }
  uint32_t seenStreams = 0;
  int64_t seenJobId = 0;
};

class FailingConfigurator : public PipelineConfiurator {
 public:
  CUxError configurePipelineArguments(SetupPipelineArgs_t* args, FVBasePtr) override {
    args->extraConfig = new PipelineExtraConfig_t();  // still freed by the pipeline
    return UX_ERROR(77, "refused");
  }
};

typedef PipelineTest CSynchronousBackupTest;

TEST_F(CSynchronousBackupTest, ConfiguratorSettingsReachTheStore) {
  boost::shared_ptr<SettingConfigurator> configurator(new SettingConfigurator());
  CSynchronousBackupPtr job = startJob(2, 991, configurator);
  EXPECT_EQ(2u, configurator->seenStreams);
  EXPECT_EQ(991, configurator->seenJobId);

  std::vector<StoreRun> all = runs();
  ASSERT_EQ(1u, all.size());
  const JobManifest& manifest = all[0].manifest;
  EXPECT_EQ(991, manifest.jobId);
  EXPECT_EQ(3, manifest.appId);
  EXPECT_EQ(2u, manifest.numStreams);
  EXPECT_TRUE(manifest.hasExtraConfig);
  EXPECT_EQ("line\nbreak", manifest.configText1);
  EXPECT_EQ("", manifest.configText2);
  EXPECT_EQ("%NFS_OBJSTORE%", manifest.configText3);
  EXPECT_EQ((std::list<uint64_t>{1, 18446744073709551615ull}), manifest.configNumbers);
  EXPECT_EQ(42u, manifest.extraSetting);
  EXPECT_EQ(0x200000u, manifest.archiveFlags);
  EXPECT_FALSE(manifest.ended);

  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  all = runs();
  EXPECT_TRUE(all[0].manifest.ended);
  EXPECT_EQ(1, all[0].manifest.endStatus);
}

TEST_F(CSynchronousBackupTest, FailingConfiguratorStartsNoJob) {
  JobInfoPtr info(new JobInfo());
  info->pipelineConfigurator.reset(new FailingConfigurator());
  CSynchronousBackupPtr job;
  CUxError error = CSynchronousBackup::getController(info, job);
  EXPECT_EQ(77u, error.GetErrorCode());
  EXPECT_FALSE(job);
  EXPECT_TRUE(runs().empty());
}

TEST_F(CSynchronousBackupTest, HandlersBeyondNumStreamsAreRefused) {
  CSynchronousBackupPtr job = startJob(3);
  for (int i = 0; i < 3; ++i) stream(job);
  CStreamHandlerPtr extra;
  EXPECT_EQ(kPipelineStreamLimit, job->getStreamHandler(extra).GetErrorCode());
  EXPECT_FALSE(extra);

  CSynchronousBackupPtr none = startJob(0);
  EXPECT_EQ(kPipelineStreamLimit, none->getStreamHandler(extra).GetErrorCode());
}

TEST_F(CSynchronousBackupTest, AfileIdsNeverRepeatAcrossJobs) {
  std::set<uint32_t> seen;
  std::vector<std::thread> threads;
  std::mutex mutex;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        CSynchronousBackupPtr job = startJob(3, t);  // the same job id, started again
        for (int i = 0; i < 3; ++i) {
          CStreamHandlerPtr handler = stream(job);
          std::lock_guard<std::mutex> lock(mutex);
          EXPECT_TRUE(seen.insert(handler->getAfileID()).second);
        }
        EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(60u, seen.size());
  EXPECT_EQ(20u, runs().size());  // every start has its own run
}

TEST_F(CSynchronousBackupTest, ReleasedStreamRefusesSendsButItsItemsAreCommitted) {
  CSynchronousBackupPtr job = startJob(1);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  EXPECT_FALSE(job->releaseStreamHandler(handler).IsError());
  EXPECT_FALSE(job->releaseStreamHandler(handler).IsError());  // twice is harmless
  // Its end-of-file is refused too, but still ends the item, as an abandoned one.
  EXPECT_EQ(kPipelineStreamReleased, SendItem(handler, "b").GetErrorCode());

  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  ASSERT_EQ(1u, recorder->notifications().size());
  EXPECT_EQ("2", recorder->notifications()[0].sequence);
  std::vector<StoreItem> stored = items(handler->getAfileID());
  ASSERT_EQ(2u, stored.size());
  EXPECT_TRUE(stored[0].success);
  EXPECT_FALSE(stored[1].success);
  EXPECT_TRUE(stored[1].sections.empty());
}

TEST_F(CSynchronousBackupTest, EndedJobRefusesEverything) {
  CSynchronousBackupPtr job = startJob(2);
  CStreamHandlerPtr handler = stream(job);
  EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  EXPECT_EQ(kPipelineJobEnded, SendItem(handler, "late").GetErrorCode());
  EXPECT_EQ(kPipelineJobEnded, handler->commitData().GetErrorCode());
  CStreamHandlerPtr another;
  EXPECT_EQ(kPipelineJobEnded, job->getStreamHandler(another).GetErrorCode());
  EXPECT_EQ(kPipelineJobEnded, job->endBackup(KA_JOB_STATUS_COMPLETED).GetErrorCode());
}

TEST_F(CSynchronousBackupTest, JobDroppedWithoutEndStaysUnfinishedAndUncommitted) {
  uint32_t id = 0;
  {
    CSynchronousBackupPtr job = startJob(1);
    CStreamHandlerPtr handler = stream(job);
    id = handler->getAfileID();
    ASSERT_FALSE(SendItem(handler, "a").IsError());
  }
  std::vector<StoreRun> all = runs();
  ASSERT_EQ(1u, all.size());
  EXPECT_FALSE(all[0].manifest.ended);
  std::vector<StoreItem> stored = items(id);
  ASSERT_EQ(1u, stored.size());  // the buffer still reached the file
  EXPECT_FALSE(stored[0].committed);
}

}  // namespace
}  // namespace pipeline_testing

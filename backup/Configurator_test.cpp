#include <gtest/gtest.h>

#include <memory>

#include "NFSObjectStorePLConfigurator.h"
#include "PerfCounters.h"
#include "TestSupport.h"
#include "ThrdPerfCounter.h"

namespace ObjectStore {
namespace {

TEST(NFSObjectStorePLConfigurator, SetsArchiveBit21AndKeepsTheRest) {
  const uint64_t cases[][2] = {{0x1, 0x200001}, {0x200000, 0x200000}, {0, 0x200000}};
  NFSObjectStorePLConfigurator configurator;
  for (const auto& c : cases) {
    OBJECTOPSAPI::CreateArgs_t args;
    args.archiveFlags = c[0];
    EXPECT_FALSE(
        configurator.configureArchiveArguments(&args, OBJECTOPSAPI::FVBasePtr()).IsError());
    EXPECT_EQ(c[1], args.archiveFlags);
  }
}

TEST(NFSObjectStorePLConfigurator, AttachesObjectStoreMarker) {
  objstore_testing::ScopedLogCapture capture(1);
  NFSObjectStorePLConfigurator configurator;
  OBJECTOPSAPI::SetupPipelineArgs_t args;
  args.extraSetting = 99;
  ASSERT_FALSE(configurator.configurePipelineArguments(&args, OBJECTOPSAPI::FVBasePtr()).IsError());
  std::unique_ptr<OBJECTOPSAPI::PipelineExtraConfig_t> extra(args.extraConfig);
  ASSERT_TRUE(extra != nullptr);
  EXPECT_EQ("", extra->configText1);
  EXPECT_EQ("", extra->configText2);
  EXPECT_EQ("%NFS_OBJSTORE%", extra->configText3);
  EXPECT_TRUE(extra->configNumbers.empty());
  EXPECT_EQ(0u, args.extraSetting);
  EXPECT_EQ(1u, capture.log().count(
                    "INFO: Operation Type is [TARNBACKUP]. So setting extra pipeLine args", 1));
}

TEST(NFSObjectStorePLConfigurator, RefusesMissingArguments) {
  NFSObjectStorePLConfigurator configurator;
  EXPECT_TRUE(
      configurator.configurePipelineArguments(nullptr, OBJECTOPSAPI::FVBasePtr()).IsError());
  EXPECT_TRUE(configurator.configureArchiveArguments(nullptr, OBJECTOPSAPI::FVBasePtr()).IsError());
}

TEST(PerfCounters, CatalogueIdsEqualTheirIndex) {
  for (int i = 0; i < kPerfCounterCount; ++i) EXPECT_EQ(i, PerfCounters[i].id);
  EXPECT_STREQ("read_for_backup", PerfCounters[kCounterReadForBackup].name);
  EXPECT_STREQ("write_to_pipeline", PerfCounters[kCounterWriteToPipeline].name);
  EXPECT_STREQ("stream_lock_wait", PerfCounters[48].name);
}

class PerfProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    counter_.enabled = true;
    g_object_store_counter = &counter_;
  }
  void TearDown() override {
    g_object_store_counter = nullptr;
    g_object_store_enable_perf = false;
  }
  size_t count(int id) {
    ThrdPerfCounter::Snapshot figures = counter_.snapshot();
    auto it = figures.find(std::make_pair(std::string("label"), id));
    return it == figures.end() ? 0 : it->second.count;
  }
  ThrdPerfCounter counter_;
};

TEST_F(PerfProbeTest, CountsOnlyWhenSwitchedOn) {
  g_object_store_enable_perf = false;
  OBJECT_STORE_START_PERF_COUNTER("label", kCounterReadForBackup);
  OBJECT_STORE_STOP_PERF_COUNTER("label", kCounterReadForBackup);
  EXPECT_EQ(0u, count(kCounterReadForBackup));

  g_object_store_enable_perf = true;
  OBJECT_STORE_START_PERF_COUNTER("label", kCounterReadForBackup);
  OBJECT_STORE_STOP_PERF_COUNTER("label", kCounterReadForBackup);
  EXPECT_EQ(1u, count(kCounterReadForBackup));

  counter_.enabled = false;
  OBJECT_STORE_START_PERF_COUNTER("label", kCounterReadForBackup);
  OBJECT_STORE_STOP_PERF_COUNTER("label", kCounterReadForBackup);
  EXPECT_EQ(1u, count(kCounterReadForBackup));
}

TEST_F(PerfProbeTest, LogsOnStopWhenAsked) {
  objstore_testing::ScopedLogCapture capture(1);
  g_object_store_enable_perf = true;
  counter_.logOnStop = true;
  OBJECT_STORE_START_PERF_COUNTER("label", kCounterWriteToPipeline);
  OBJECT_STORE_STOP_PERF_COUNTER("label", kCounterWriteToPipeline);
  EXPECT_GE(capture.log().countContaining("For All The Files"), 1u);
}

TEST_F(PerfProbeTest, NoCounterObjectIsSafe) {
  g_object_store_enable_perf = true;
  g_object_store_counter = nullptr;
  OBJECT_STORE_START_PERF_COUNTER("label", kCounterReadForBackup);
  OBJECT_STORE_STOP_PERF_COUNTER("label", kCounterReadForBackup);
}

}  // namespace
}  // namespace ObjectStore

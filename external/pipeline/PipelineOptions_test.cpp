#include <gtest/gtest.h>

#include "KAPlatformInfo.h"
#include "PipelineOptions.h"
#include "TestSupport.h"

namespace OBJECTOPSAPI {
namespace {

using objstore_testing::ScopedEnv;

TEST(PipelineOptionsTest, CommitThresholdsFromTheEnvironment) {
  struct Case {
    const char* items;
    const char* ms;
    uint64_t expectedItems, expectedMs;
  } cases[] = {
      {"", "", PipelineOptions::kDefaultCommitItems, PipelineOptions::kDefaultCommitMs},
      {"5", "0", 5, 0},
      {"-1", "12x", PipelineOptions::kDefaultCommitItems, PipelineOptions::kDefaultCommitMs},
  };
  for (const Case& c : cases) {
    ScopedEnv items("OBJSTORE_PIPELINE_COMMIT_ITEMS", c.items);
    ScopedEnv ms("OBJSTORE_PIPELINE_COMMIT_MS", c.ms);
    ScopedEnv bytes("OBJSTORE_PIPELINE_COMMIT_BYTES", "4096");
    PipelineOptions options = PipelineOptions::FromEnvironment();
    EXPECT_EQ(c.expectedItems, options.commitItems) << c.items;
    EXPECT_EQ(c.expectedMs, options.commitMs) << c.ms;
    EXPECT_EQ(4096u, options.commitBytes);
  }
}

TEST(PipelineOptionsTest, StoreDirFromEnvironmentThenSettingsThenDefault) {
  objstore_testing::TempDir dir;
  ScopedEnv settings("OBJSTORE_SETTINGS_FILE", dir.sub("settings"));
  {
    ScopedEnv unset("OBJSTORE_PIPELINE_STORE", "", true);
    EXPECT_EQ(PipelineOptions::kDefaultStoreDir, PipelineOptions::ResolveStoreDir());
    ASSERT_NE(0, KAPlatformInfo().setDirectory("Pipeline", "sStoreDir", "/from/settings"));
    EXPECT_EQ("/from/settings", PipelineOptions::ResolveStoreDir());
  }
  ScopedEnv store("OBJSTORE_PIPELINE_STORE", "/from/env");
  EXPECT_EQ("/from/env", PipelineOptions::ResolveStoreDir());

  PipelineOptions own;
  own.storeDir = "/own";
  PipelineOptions::Override(own);
  EXPECT_EQ("/own", PipelineOptions::Current().storeDir);
  PipelineOptions::ClearOverride();
  EXPECT_EQ("/from/env", PipelineOptions::Current().storeDir);
}

}  // namespace
}  // namespace OBJECTOPSAPI

#include "BackupOptions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "ControllerTestFixture.h"

namespace ObjectStore {
namespace {

struct BadOption {
  const char* field;
  std::function<void(BackupOptions&)> spoil;
};

class BadOptionTest : public ::testing::TestWithParam<BadOption> {
 protected:
  void TearDown() override { SetBackupOptions(BackupOptions()); }
};

// A value out of range is refused with an error that names the field, and the options in force
// stay as they were.
TEST_P(BadOptionTest, IsRefusedNamingTheField) {
  BackupOptions good;
  good.commitWaitMs = 1234;
  ASSERT_FALSE(SetBackupOptions(good).IsError());
  BackupOptions bad = good;
  GetParam().spoil(bad);
  CUxError error = SetBackupOptions(bad);
  EXPECT_EQ(static_cast<uint32_t>(EINVAL), error.GetErrorCode());
  EXPECT_NE(std::string::npos,
            error.AsString().find(std::string("BackupOptions.") + GetParam().field + " is "))
      << error.AsString();
  EXPECT_EQ(1234, GetBackupOptions().commitWaitMs);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BadOptionTest,
    ::testing::Values(
        BadOption{"commitWaitMs", [](BackupOptions& o) { o.commitWaitMs = -1; }},
        BadOption{"commitWaitMs", [](BackupOptions& o) { o.commitWaitMs = 25L * 3600 * 1000; }},
        BadOption{"restartWaitMs", [](BackupOptions& o) { o.restartWaitMs = 0; }},
        BadOption{"forcedCommitIntervalSeconds",
                  [](BackupOptions& o) { o.forcedCommitIntervalSeconds = 0; }},
        BadOption{"cleanupPollMs", [](BackupOptions& o) { o.cleanupPollMs = -5; }},
        BadOption{"maxSectionBytes", [](BackupOptions& o) { o.maxSectionBytes = 0; }},
        BadOption{"maxSectionBytes",
                  [](BackupOptions& o) { o.maxSectionBytes = uint64_t(UINT32_MAX) + 1; }}),
    [](const ::testing::TestParamInfo<BadOption>& info) {
      return std::string(info.param.field) + std::to_string(info.index);
    });

typedef objstore_testing::ControllerTest JobOptionsTest;

// A job runs with the options it started with: a change made meanwhile waits for the next job.
TEST_F(JobOptionsTest, JobKeepsTheOptionsItStartedWith) {
  OBJECTOPSAPI::PipelineFaults::SetManualCommit(true);
  ChangeOptions([](BackupOptions& options) {
    options.commitWaitMs = 0;
    options.maxUncommitted = 7;
  });
  BackupInterfacePtr controller = start(1, 1);
  ASSERT_TRUE(controller);
  EXPECT_EQ(
      7u, registeredStream(controller->streamHandlerAt(0)->getAfileID())->getMaxUncommittedCount());
  ChangeOptions([](BackupOptions& options) { options.commitWaitMs = 60000; });
  cacheItem("item", "k");
  std::list<std::string> failed;
  ASSERT_FALSE(controller->sendItem("item", failed, nullptr, nullptr, cache_, context_).IsError());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(258u, controller->endBackup(failed, true).GetErrorCode());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(std::list<std::string>{"item"}, failed);
}

}  // namespace
}  // namespace ObjectStore

#include "GroupSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace objstore_host {
namespace {

TEST(GroupSyncTest, EveryWaiterIsServedAndSyncsAreNeverMoreThanWaiters) {
  objstore_testing::TempDir dir;
  GroupSync sync(dir.path());
  std::string error;
  ASSERT_TRUE(sync.isOpen(&error)) << error;
  const int kThreads = 8;
  const int kEach = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        if (sync.waitDurable() != 0) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(static_cast<uint64_t>(kThreads * kEach), sync.waiters());
  EXPECT_GE(sync.syncs(), 1u);
  EXPECT_LE(sync.syncs(), sync.waiters());
}

TEST(GroupSyncTest, ADirectoryThatCannotBeOpenedFailsEveryWait) {
  objstore_testing::TempDir dir;
  GroupSync sync(dir.sub("missing"));
  std::string error;
  EXPECT_FALSE(sync.isOpen(&error));
  EXPECT_NE(std::string::npos, error.find("missing"));
  EXPECT_NE(0, sync.waitDurable());
}

}  // namespace
}  // namespace objstore_host

#include "GroupSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
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

// A sync started before a caller's writes does not cover them: the caller waits for the next.
TEST(GroupSyncTest, ACallerArrivingDuringASyncWaitsForTheNextOne) {
  objstore_testing::TempDir dir;
  std::mutex mutex;
  std::condition_variable changed;
  int started = 0;
  bool releaseFirst = false;
  GroupSync sync(dir.path(), [&](int) {
    std::unique_lock<std::mutex> lock(mutex);
    ++started;
    changed.notify_all();
    if (started == 1) changed.wait(lock, [&] { return releaseFirst; });
    return 0;
  });
  std::thread first([&] { EXPECT_EQ(0, sync.waitDurable()); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return started == 1; }));
  }
  std::atomic<int> startedWhenReleased{-1};
  std::thread second([&] {
    EXPECT_EQ(0, sync.waitDurable());
    std::lock_guard<std::mutex> lock(mutex);
    startedWhenReleased = started;
  });
  // The second caller has its ticket once it counts among the waiters.
  for (int i = 0; i < 10000 && sync.waiters() < 2; ++i) std::this_thread::yield();
  ASSERT_EQ(2u, sync.waiters());
  {
    std::lock_guard<std::mutex> lock(mutex);
    releaseFirst = true;
  }
  changed.notify_all();
  first.join();
  second.join();
  EXPECT_EQ(2, startedWhenReleased.load());
}

TEST(GroupSyncTest, AFailedSyncFailsItsCallersAndEveryLaterOne) {
  objstore_testing::TempDir dir;
  std::atomic<int> calls{0};
  GroupSync sync(dir.path(), [&](int) { return ++calls == 1 ? EIO : 0; });
  EXPECT_EQ(EIO, sync.waitDurable());
  // The next syncs succeed, but data written before the failure may be gone.
  EXPECT_EQ(EIO, sync.waitDurable());
  for (int i = 0; i < 100000 && sync.syncs() < 2; ++i) std::this_thread::yield();
  ASSERT_EQ(2u, sync.syncs());
  EXPECT_EQ(EIO, sync.waitDurable());
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

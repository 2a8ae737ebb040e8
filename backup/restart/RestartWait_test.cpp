#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "BackupOptions.h"
#include "KaCriticalSectionLock.h"
#include "ObjStoreBackupInterface.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

class RestartWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRound(5); }
  static void SetRound(long ms) {
    BackupOptions options;
    options.restartWaitMs = ms;
    ASSERT_FALSE(SetBackupOptions(options).IsError());
  }
  void TearDown() override {
    SetBackupOptions(BackupOptions());
    KaCriticalSectionLock lock(&gThreadSyncLock);
    gThreadSyncMap.clear();
  }
  SyncEventPtr announceRestart(int appId) {
    SyncEventPtr entry(new SyncEvent());
    KaCriticalSectionLock lock(&gThreadSyncLock);
    gThreadSyncMap[appId] = entry;
    return entry;
  }
  void finishRestart(int appId) {
    SyncEventPtr entry;
    {
      KaCriticalSectionLock lock(&gThreadSyncLock);
      entry = gThreadSyncMap[appId];
      gThreadSyncMap.erase(appId);
    }
    entry->event.set();
  }
};

TEST_F(RestartWaitTest, RestartThreadNeverWaits) {
  objstore_testing::ScopedLogCapture capture;
  announceRestart(7);
  BackupInterface::waitForRestartThread(7, true);
  EXPECT_EQ(1u, capture.log().count(
                    "This is restart thread. So return from waitforRestartThread function.", 4));
}

TEST_F(RestartWaitTest, NoEntryReturnsAtOnceAndOtherAppsDoNotDelay) {
  objstore_testing::ScopedLogCapture capture;
  announceRestart(8);
  BackupInterface::waitForRestartThread(7, false);
  EXPECT_EQ(1u, capture.log().count("no restart thread is started or restart is done with "
                                    "sending pending items for app ID [7]",
                                    1));
  EXPECT_EQ(0u, capture.log().countContaining("waiting for restart thread"));
}

TEST_F(RestartWaitTest, WaitsWhileTheEntryExistsEvenWhenItsEventIsSet) {
  objstore_testing::ScopedLogCapture capture;
  SyncEventPtr entry = announceRestart(7);
  entry->event.set();  // a set event only cuts single waits short
  std::atomic<bool> returned(false);
  std::thread waiter([&] {
    BackupInterface::waitForRestartThread(7, false);
    returned = true;
  });
  const char kWaiting[] = "waiting for restart thread to finish pending items for app ID [7]";
  while (capture.log().count(kWaiting, 1) < 3) std::this_thread::yield();
  EXPECT_FALSE(returned);
  finishRestart(7);
  waiter.join();
  EXPECT_TRUE(returned);
}

// An event set while the entry stays (it resets by hand) cuts one round short; after that the
// waiter waits whole rounds again, rather than looking at the registry as fast as it can.
TEST_F(RestartWaitTest, SetEventDoesNotMakeTheWaiterSpin) {
  SetRound(20);
  objstore_testing::ScopedLogCapture capture;
  SyncEventPtr entry = announceRestart(7);
  entry->event.set();
  std::thread waiter([] { BackupInterface::waitForRestartThread(7, false); });
  const char kWaiting[] = "waiting for restart thread to finish pending items for app ID [7]";
  while (capture.log().count(kWaiting, 1) < 2) std::this_thread::yield();
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const size_t rounds = capture.log().count(kWaiting, 1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  finishRestart(7);
  waiter.join();
  // At most one round per 20 ms, plus the two seen before and one in progress.
  EXPECT_LE(rounds, 3 + static_cast<size_t>(elapsed / std::chrono::milliseconds(20)));
}

}  // namespace
}  // namespace ObjectStore

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "BackupTimings.h"
#include "KaCriticalSectionLock.h"
#include "ObjStoreBackupInterface.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

class RestartWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { GetBackupTimings().restartWaitMs = 5; }
  void TearDown() override {
    GetBackupTimings() = BackupTimings();
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

}  // namespace
}  // namespace ObjectStore

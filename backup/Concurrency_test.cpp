// Many host threads sending on several streams while commits arrive and sends fail: every item
// ends either reported committed or handed back in a failed list, exactly once.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "ControllerTestFixture.h"

namespace ObjectStore {
namespace {

using OBJECTOPSAPI::PipelineFaults;

class ConcurrencyTest : public objstore_testing::ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    OBJECTOPSAPI::PipelineOptions options = OBJECTOPSAPI::PipelineOptions::Current();
    options.commitItems = 5;
    options.commitMs = 2;
    OBJECTOPSAPI::PipelineOptions::Override(options);
  }
};

TEST_F(ConcurrencyTest, NoItemLostOrReportedTwice) {
  const int kThreads = 4;
  const int kItemsPerThread = 60;
  PipelineFaults::FailCall(PipelineFaults::kSendUserBufData, 37);
  PipelineFaults::FailCall(PipelineFaults::kSendHeader, 90);
  PipelineFaults::FailCall(PipelineFaults::kSendEof, 150);
  BackupInterfacePtr controller = start(1, 3);
  ASSERT_TRUE(controller);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kItemsPerThread; ++i) {
      const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
      cacheItem(name, name);
    }
  }

  std::vector<std::list<std::string>> failedPerThread(kThreads);
  std::vector<std::vector<std::string>> refusedPerThread(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kItemsPerThread; ++i) {
        const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
        if (controller
                ->sendItem(name.c_str(), failedPerThread[t], nullptr, nullptr, cache_, context_)
                .IsError()) {
          refusedPerThread[t].push_back(name);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(3u, controller->freeStreamHandlerCount());  // each handler back exactly once

  std::list<std::string> failedAtEnd;
  controller->endBackup(failedAtEnd, true);

  std::map<std::string, int> seen;
  for (const std::string& item : commits_.committedItems()) ++seen[item];
  for (const std::list<std::string>& failed : failedPerThread) {
    for (const std::string& item : failed) ++seen[item];
  }
  for (const std::string& item : failedAtEnd) ++seen[item];
  EXPECT_EQ(static_cast<size_t>(kThreads * kItemsPerThread), seen.size());
  // The pipeline counts failed items too; none may come back as committed.
  const std::vector<std::string> committed = commits_.committedItems();
  const std::set<std::string> committedSet(committed.begin(), committed.end());
  for (const std::vector<std::string>& refused : refusedPerThread) {
    for (const std::string& item : refused) EXPECT_EQ(0u, committedSet.count(item)) << item;
  }
  for (const auto& entry : seen) EXPECT_EQ(1, entry.second) << entry.first;
}

}  // namespace
}  // namespace ObjectStore

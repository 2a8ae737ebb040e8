// Many host threads sending on several streams while commits arrive and sends fail: every item
// ends either reported committed or handed back in a failed list, exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>

#include "ControllerTestFixture.h"

namespace ObjectStore {
namespace {

using OBJECTOPSAPI::PipelineFaults;

struct Load {
  const char* name;
  uint32_t flowWindow;  // 0: no flow control
  bool throws;          // the faults throw instead of failing
};

void PrintTo(const Load& load, std::ostream* out) {
  *out << load.name;
}

class ConcurrencyTest : public objstore_testing::ControllerTest,
                        public ::testing::WithParamInterface<Load> {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    OBJECTOPSAPI::PipelineOptions options = OBJECTOPSAPI::PipelineOptions::Current();
    options.commitItems = 5;
    options.commitMs = 2;
    OBJECTOPSAPI::PipelineOptions::Override(options);
  }
};

TEST_P(ConcurrencyTest, NoItemLostOrReportedTwice) {
  const int kThreads = 4;
  const int kStreams = 3;
  const int kItemsPerThread = 60;
  const bool throws = GetParam().throws;
  PipelineFaults::SetFlowWindow(GetParam().flowWindow);
  PipelineFaults::FailCall(PipelineFaults::kSendUserBufData, 37, 0, false, throws);
  PipelineFaults::FailCall(PipelineFaults::kSendHeader, 90, 0, false, throws);
  PipelineFaults::FailCall(PipelineFaults::kSendEof, 150, 0, false, throws);
  BackupInterfacePtr controller = start(1, kStreams);
  ASSERT_TRUE(controller);
  auto name = [](int t, int i) { return "t" + std::to_string(t) + "-" + std::to_string(i); };
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kItemsPerThread; ++i) cacheItem(name(t, i), KeyFor(name(t, i)));
  }

  std::vector<std::list<std::string>> failedPerThread(kThreads);
  std::vector<std::vector<std::string>> refusedPerThread(kThreads);
  std::vector<std::map<int, int>> itemsPerStream(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kItemsPerThread; ++i) {
        const std::string item = name(t, i);
        int index = -1;
        bool refused = false;
        try {
          refused =
              controller
                  ->sendItem(item.c_str(), failedPerThread[t], nullptr, &index, cache_, context_)
                  .IsError();
        } catch (const PipelineFaults::InjectedException&) {
          refused = true;
        }
        if (refused) refusedPerThread[t].push_back(item);
        ++itemsPerStream[t][index];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(size_t(kStreams), controller->freeStreamHandlerCount());  // each back exactly once
  for (int index = 0; index < kStreams; ++index) {
    int sent = 0;
    for (const std::map<int, int>& counts : itemsPerStream) {
      auto found = counts.find(index);
      if (found != counts.end()) sent += found->second;
    }
    EXPECT_GT(sent, 0) << "stream " << index << " got no item";
  }

  std::list<std::string> failedAtEnd;
  CUxError ended = controller->endBackup(failedAtEnd, true);
  EXPECT_FALSE(ended.IsError()) << ended.AsString();  // every commit came back in time

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

// endBackup called from another thread while the senders are still at it, at a point chosen by
// a seed: the senders the end overtakes get 5007 and keep their items; the sends already running
// are waited for; every item a sender did hand over ends exactly once, committed or in a failed
// list (the sender's or the end's).
TEST_P(ConcurrencyTest, EndWhileSendingLosesNothing) {
  const int kThreads = 4;
  const int kItemsPerThread = 30;
  const unsigned seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (--gtest_random_seed to replay)");
  const bool throws = GetParam().throws;
  auto name = [](int t, int i) { return "t" + std::to_string(t) + "-" + std::to_string(i); };
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kItemsPerThread; ++i) cacheItem(name(t, i), KeyFor(name(t, i)));
  }
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    PipelineFaults::Clear();
    PipelineFaults::SetFlowWindow(GetParam().flowWindow);
    if (throws) PipelineFaults::FailCall(PipelineFaults::kSendUserBufData, 23, 0, false, true);
    BackupInterfacePtr controller = start(1, 3, 300 + round);
    ASSERT_TRUE(controller);
    const int endAfter = std::uniform_int_distribution<int>(0, kThreads * kItemsPerThread)(random);
    std::atomic<int> attempted(0);
    std::vector<std::list<std::string>> failedPerThread(kThreads);
    std::vector<std::vector<std::string>> keptPerThread(kThreads);  // refused with 5007
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kItemsPerThread; ++i) {
          const std::string item = name(t, i);
          ++attempted;
          try {
            CUxError error = controller->sendItem(item.c_str(), failedPerThread[t], nullptr,
                                                  nullptr, cache_, context_);
            if (error.GetErrorCode() == kErrBackupEnded) keptPerThread[t].push_back(item);
          } catch (const PipelineFaults::InjectedException&) {
          }
        }
      });
    }
    while (attempted < endAfter) std::this_thread::yield();
    std::list<std::string> failedAtEnd;
    CUxError ended = controller->endBackup(failedAtEnd, true);
    for (std::thread& thread : threads) thread.join();
    EXPECT_NE(kErrNoCommitInTime, ended.GetErrorCode()) << ended.AsString();
    if (!throws) {
      // Without faults the end waits for the sends it overtook: none of them fails under it.
      EXPECT_FALSE(ended.IsError()) << ended.AsString();
      for (const std::list<std::string>& failed : failedPerThread) EXPECT_TRUE(failed.empty());
    }

    std::map<std::string, int> seen;
    for (const std::string& item : commits_.committedItems()) ++seen[item];
    {
      std::lock_guard<std::mutex> lock(commits_.mutex);
      commits_.calls.clear();
    }
    for (const std::list<std::string>& failed : failedPerThread) {
      for (const std::string& item : failed) ++seen[item];
    }
    for (const std::string& item : failedAtEnd) ++seen[item];
    for (const std::vector<std::string>& kept : keptPerThread) {
      for (const std::string& item : kept) ++seen[item];
    }
    EXPECT_EQ(static_cast<size_t>(kThreads * kItemsPerThread), seen.size());
    for (const auto& entry : seen) EXPECT_EQ(1, entry.second) << entry.first;
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Loads, ConcurrencyTest,
    ::testing::Values(Load{"FreeFlow", 0, false}, Load{"WindowOfOne", 1, false},
                      Load{"WindowOfEight", 8, false}, Load{"ThrowingFaults", 0, true},
                      Load{"ThrowingFaultsWindowOfOne", 1, true}),
    [](const ::testing::TestParamInfo<Load>& info) { return info.param.name; });

}  // namespace
}  // namespace ObjectStore

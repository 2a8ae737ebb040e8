#include "WriteBudget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(WriteBudgetTest, GrantsEachByteOnceThenNothing) {
  WriteBudget budget;
  EXPECT_EQ(1000u, budget.take(1000));  // unlimited by default
  budget.setLimit(10);
  EXPECT_EQ(6u, budget.take(6));
  EXPECT_EQ(4u, budget.take(6));  // the rest: the writer fails after these
  EXPECT_EQ(0u, budget.take(1));
  budget.setLimit(WriteBudget::kUnlimited);
  EXPECT_EQ(5u, budget.take(5));
}

TEST(WriteBudgetTest, ConcurrentWritersShareTheBudget) {
  WriteBudget budget;
  budget.setLimit(100000);
  std::vector<std::thread> threads;
  std::atomic<uint64_t> granted{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) granted += budget.take(3);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(100000u, granted.load());
}

}  // namespace

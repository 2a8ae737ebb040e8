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

TEST(WriteBudgetTest, ParsesSizesWithBinaryUnits) {
  struct Case {
    const char* text;
    bool valid;
    uint64_t bytes;
  } cases[] = {{"0", true, 0},           {"4096", true, 4096},  {"3KiB", true, 3072},
               {"2MiB", true, 2 << 20},  {"1GiB", true, 1 << 30}, {"", false, 0},
               {"KiB", false, 0},        {"-1", false, 0},      {"1kb", false, 0},
               {"1 MiB", false, 0},      {"18446744073709551615", false, 0},
               {"17179869184GiB", false, 0}};
  for (const Case& c : cases) {
    uint64_t bytes = 77;
    EXPECT_EQ(c.valid, WriteBudget::ParseSize(c.text, &bytes)) << c.text;
    if (c.valid) {
      EXPECT_EQ(c.bytes, bytes) << c.text;
    }
  }
}

}  // namespace

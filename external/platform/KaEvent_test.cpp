#include "KaEvent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <thread>
#include <vector>

namespace {

TEST(KaEventTest, WaitTimesOutWhenNotSet) {
  KaEvent event;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.wait(20));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_FALSE(event.wait(0));
}

TEST(KaEventTest, AutoResetReleasesOneWaitPerSet) {
  KaEvent event(false);
  event.set();
  event.set();  // a second set of a set event adds nothing
  EXPECT_TRUE(event.wait(0));
  EXPECT_FALSE(event.wait(10));
}

TEST(KaEventTest, ManualResetStaysSetUntilReset) {
  KaEvent event(true);
  event.set();
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.wait(0));
  event.reset();
  EXPECT_FALSE(event.wait(10));
}

TEST(KaEventTest, SetWakesWaiterWithoutLimit) {
  for (long limit : {-1L, LONG_MAX}) {
    KaEvent event(false);
    bool woken = false;
    std::thread waiter([&] { woken = event.wait(limit); });
    event.set();
    waiter.join();
    EXPECT_TRUE(woken) << limit;
  }
}

TEST(KaEventTest, ManualSetWakesEveryWaiter) {
  KaEvent event(true);
  std::vector<std::thread> waiters;
  std::vector<char> woken(3, 0);
  for (size_t i = 0; i < woken.size(); ++i) {
    waiters.emplace_back([&, i] { woken[i] = event.wait(-1); });
  }
  event.set();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(std::vector<char>(3, 1), woken);
}

}  // namespace

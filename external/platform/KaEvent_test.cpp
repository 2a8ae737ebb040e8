#include "KaEvent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "UxSleep.h"

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
  KaEvent event(false);
  bool woken = false;
  std::thread waiter([&] { woken = event.wait(-1); });
  event.set();
  waiter.join();
  EXPECT_TRUE(woken);
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

TEST(UxSleepTest, SleepsAtLeastTheGivenTime) {
  auto start = std::chrono::steady_clock::now();
  UXSLEEP_InTeRnAl(15, __FILE__, __LINE__);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
}

}  // namespace

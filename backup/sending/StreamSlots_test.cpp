#include "StreamSlots.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

namespace ObjectStore {
namespace {

typedef std::chrono::steady_clock Clock;

StreamSlots* TwoSlots(StreamSlots* slots) {
  slots->add(OBJECTOPSAPI::CStreamHandlerPtr(), StreamInfoPtr());
  slots->add(OBJECTOPSAPI::CStreamHandlerPtr(), StreamInfoPtr());
  return slots;
}

TEST(StreamSlotsTest, ClosedSlotsRefuseTakesAndDrainWaitsForTheHolders) {
  StreamSlots slots;
  TwoSlots(&slots);
  size_t index = 99;
  StreamSlot* held = slots.take(-1, &index);  // -1 is 2^64 - 1: odd, the second slot
  ASSERT_NE(nullptr, held);
  EXPECT_EQ(1u, index);
  EXPECT_EQ(1u, slots.freeSlots().size());
  EXPECT_FALSE(slots.closeAndDrain(Clock::now()));  // held: the drain runs out of time
  EXPECT_EQ(nullptr, slots.take(0, &index));
  EXPECT_EQ(0u, slots.size());
  EXPECT_TRUE(slots.freeSlots().empty());
  std::thread giver([&] { slots.give(held); });
  EXPECT_TRUE(slots.closeAndDrain(Clock::now() + std::chrono::seconds(30)));
  giver.join();
  EXPECT_EQ(0, held->users.load());
}

// A take racing with the close either fails or holds a slot that the close waits for: it never
// holds one after the close has reported every slot given back. Two threads run the race over
// and over, each round started by a shared counter so that both reach it at the same moment.
TEST(StreamSlotsTest, TakeRacingTheCloseIsRefusedOrWaitedFor) {
  const int kRounds = 5000;
  std::atomic<int> round{-1};
  std::atomic<int> closerDone{-1};
  std::atomic<int> drainedRound{-1};
  std::deque<StreamSlots> all(kRounds);
  for (StreamSlots& slots : all) TwoSlots(&slots);
  int heldAfterDrain = 0;
  std::thread closer([&] {
    for (int r = 0; r < kRounds; ++r) {
      while (round.load() < r) {
      }
      if (all[r].closeAndDrain(Clock::now() + std::chrono::seconds(30))) drainedRound.store(r);
      closerDone.store(r);
    }
  });
  for (int r = 0; r < kRounds; ++r) {
    round.store(r);
    size_t index = 0;
    StreamSlot* slot = all[r].take(r, &index);
    if (slot != nullptr) {
      if (drainedRound.load() == r) ++heldAfterDrain;
      all[r].give(slot);
    }
    while (closerDone.load() < r) {
    }
  }
  closer.join();
  EXPECT_EQ(0, heldAfterDrain);
}

}  // namespace
}  // namespace ObjectStore

#include "KaCriticalSection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "KaCriticalSectionLock.h"

namespace {

// True when another thread can take `section` now (it joins, so it never blocks the caller).
bool OtherThreadCanEnter(KaCriticalSection* section) {
  std::atomic<bool> entered(false);
  std::thread other([&] {
    KaCriticalSectionLock lock(section);
    entered = true;
  });
  other.join();
  return entered;
}

// The lock analysis has no notion of entering twice.
void EnterTwiceAndLeave(KaCriticalSection* section) NO_THREAD_SAFETY_ANALYSIS {
  section->enter(true);
  section->enter(true);  // would deadlock if not recursive
  section->leave();
  section->leave();
}

TEST(KaCriticalSectionTest, SameThreadMayEnterAgain) {
  KaCriticalSection section;
  EnterTwiceAndLeave(&section);
  EXPECT_TRUE(OtherThreadCanEnter(&section));
}

TEST(KaCriticalSectionTest, ExcludesOtherThreads) {
  KaCriticalSection section;
  long counter = 0;  // deliberately not atomic: only the section protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        KaCriticalSectionLock lock(&section);
        ++counter;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(80000, counter);
}

TEST(KaCriticalSectionLockTest, NullIsAllowedAndResetMovesTheHold) {
  KaCriticalSection first, second;
  KaCriticalSectionLock none(nullptr);
  {
    KaCriticalSectionLock lock(&first);
    lock.resetCriticalSection(&second);
    EXPECT_TRUE(OtherThreadCanEnter(&first));
    lock.resetCriticalSection(nullptr);
    EXPECT_TRUE(OtherThreadCanEnter(&second));
  }
  EXPECT_TRUE(OtherThreadCanEnter(&first));
}

// The hooks let a test decide who runs: here the holder leaves only when the waiter's blocked
// hook asks it to, and each leave is seen by the left hook.
std::atomic<int> gLeaves{0};
std::atomic<bool> gRelease{false};
std::atomic<int> gBlockedCalls{0};

TEST(KaCriticalSectionTest, HooksSeeEveryLeaveAndEveryWaitForAHeldSection) {
  KaSectionHooks hooks;
  hooks.left = [] { ++gLeaves; };
  hooks.blocked = [] {
    ++gBlockedCalls;
    gRelease = true;
    return true;  // try again: the holder leaves once it sees gRelease
  };
  KaCriticalSection section;
  KaCriticalSection::SetHooks(&hooks);
  section.enter();
  std::thread waiter([&] {
    section.enter();
    section.leave();
  });
  while (!gRelease) std::this_thread::yield();
  section.leave();
  waiter.join();
  KaCriticalSection::SetHooks(nullptr);
  EXPECT_EQ(2, gLeaves.load());
  EXPECT_GE(gBlockedCalls.load(), 1);
  section.enter();  // without hooks: nothing is counted
  section.leave();
  EXPECT_EQ(2, gLeaves.load());
}

}  // namespace

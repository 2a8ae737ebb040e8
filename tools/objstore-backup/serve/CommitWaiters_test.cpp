#include "CommitWaiters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace objstore_host {
namespace {

using std::chrono::milliseconds;

TEST(CommitWaitersTest, AnOutcomeDeliveredBeforeTheWaitIsKept) {
  CommitWaiters waiters;
  waiters.add("a");
  CommitOutcome committed;
  committed.committed = true;
  committed.job = 4;
  committed.stream = 1;
  waiters.deliver("a", committed);
  waiters.deliver("unknown", committed);  // nobody waits: dropped
  const CommitOutcome outcome = waiters.wait("a", milliseconds(0));
  EXPECT_TRUE(outcome.done);
  EXPECT_TRUE(outcome.committed);
  EXPECT_EQ(4, outcome.job);
  EXPECT_EQ(1, outcome.stream);
  // Unregistered by the wait: a second one finds nothing.
  EXPECT_FALSE(waiters.wait("a", milliseconds(0)).done);
}

TEST(CommitWaitersTest, AWaitRunsOutOrEndsWithTheDelivery) {
  CommitWaiters waiters;
  waiters.add("late");
  EXPECT_FALSE(waiters.wait("late", milliseconds(20)).done);
  waiters.add("b");
  std::thread deliverer([&waiters] {
    CommitOutcome outcome;
    outcome.committed = true;
    waiters.deliver("b", outcome);
  });
  const CommitOutcome outcome = waiters.wait("b", milliseconds(60000));
  deliverer.join();
  EXPECT_TRUE(outcome.committed);
}

TEST(CommitWaitersTest, AfterFailAllEveryWaiterAndEveryNewOneFailsAtOnce) {
  CommitWaiters waiters;
  waiters.add("in-flight");
  waiters.failAll("stopping");
  // A PUT that registers after the stop must not wait out its whole timeout.
  waiters.add("after");
  const auto start = std::chrono::steady_clock::now();
  for (const char* id : {"in-flight", "after"}) {
    const CommitOutcome outcome = waiters.wait(id, milliseconds(10000));
    EXPECT_TRUE(outcome.done) << id;
    EXPECT_FALSE(outcome.committed) << id;
    EXPECT_EQ("stopping", outcome.error) << id;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace objstore_host

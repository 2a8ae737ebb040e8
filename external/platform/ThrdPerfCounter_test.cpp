#include "ThrdPerfCounter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "TestSupport.h"
#include "UxSleep.h"

namespace {

using objstore_testing::ScopedLogCapture;

const char kLabel[] = "BackupInterface::sendItem";

TEST(ThrdPerfCounterTest, DisabledCounterRecordsNothing) {
  ThrdPerfCounter counter;
  counter.StartPerfCounter(kLabel, 30);
  counter.StopPerfCounter(kLabel, 30, 0);
  EXPECT_TRUE(counter.snapshot().empty());
}

TEST(ThrdPerfCounterTest, MeasuresTheIntervalAndTheValue) {
  ThrdPerfCounter counter;
  counter.enabled = true;
  counter.StartPerfCounter(kLabel, 30);
  UXSLEEP_InTeRnAl(3, __FILE__, __LINE__);
  counter.StopPerfCounter(kLabel, 30, 512);
  counter.StopPerfCounter(kLabel, 30, 0);  // no open interval: ignored
  ThrdPerfCounter::Figures figures = counter.snapshot()[std::make_pair(kLabel, 30)];
  EXPECT_EQ(1u, figures.count);
  EXPECT_GE(figures.minNanos, 3000000u);
  EXPECT_EQ(figures.minNanos, figures.maxNanos);
  EXPECT_EQ(figures.minNanos, figures.totalNanos);
  EXPECT_EQ(512u, figures.totalValue);
}

TEST(ThrdPerfCounterTest, StartsPairWithStopsOfTheSameThread) {
  ThrdPerfCounter counter;
  counter.enabled = true;
  counter.StartPerfCounter(kLabel, 31);
  std::thread([&] { counter.StopPerfCounter(kLabel, 31, 0); }).join();
  EXPECT_TRUE(counter.snapshot().empty());
}

TEST(ThrdPerfCounterTest, ConcurrentThreadsAreCountedExactly) {
  ThrdPerfCounter counter;
  counter.enabled = true;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&counter] {
      for (int i = 0; i < 200; ++i) {
        counter.StartPerfCounter(kLabel, 30);
        counter.StartPerfCounter(kLabel, 31);
        counter.StopPerfCounter(kLabel, 31, 1);
        counter.StopPerfCounter(kLabel, 30, 0);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ThrdPerfCounter::Snapshot figures = counter.snapshot();
  ASSERT_EQ(2u, figures.size());
  for (int id : {30, 31}) {
    const ThrdPerfCounter::Figures& f = figures[std::make_pair(kLabel, id)];
    EXPECT_EQ(800u, f.count);
    EXPECT_LE(f.minNanos, f.maxNanos);
    EXPECT_LE(f.minNanos * f.count, f.totalNanos);
    EXPECT_GE(f.maxNanos * f.count, f.totalNanos);
  }
  EXPECT_EQ(800u, figures[std::make_pair(kLabel, 31)].totalValue);
}

TEST(ThrdPerfCounterTest, LogsOneRecordPerCounterOfTheLabel) {
  ScopedLogCapture capture(1);
  ThrdPerfCounter counter;
  counter.enabled = true;
  for (int id : {30, 31}) {
    counter.StartPerfCounter(kLabel, id);
    counter.StopPerfCounter(kLabel, id, 0);
  }
  counter.StartPerfCounter("other", 1);
  counter.StopPerfCounter("other", 1, 0);

  counter._LogPerfCounters(kLabel, "For All The Files", -1);
  EXPECT_EQ(2u, capture.log().countContaining("For All The Files [BackupInterface::sendItem]", 1));
  counter._LogPerfCounters(kLabel, "one", 31);
  EXPECT_EQ(1u, capture.log().countContaining("one [BackupInterface::sendItem] counter [31] "
                                              "count [1] total [",
                                              1));

  capture.log().clear();
  counter.logOnStop = true;
  counter.StartPerfCounter(kLabel, 30);
  counter.StopPerfCounter(kLabel, 30, 0);
  EXPECT_EQ(1u, capture.log().countContaining("For All The Files [" + std::string(kLabel) +
                                              "] counter [30] count [2]"));
}

}  // namespace

#include "RetiredStatistics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "KaCriticalSectionLock.h"
#include "StreamRegistry.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

using objstore_testing::ScopedLogCapture;
using objstore_testing::TempDir;

// Records of one application come and leave the registry while this thread reads the totals:
// each read sees every record once, either still registered or retired, so the application's
// items never go back and, at the end, every record is counted. A read that missed a record
// leaving would need the record to leave between two reads' holds, so the churn runs in a few
// rounds, one application each, to give that interleaving its chances.
void ChurnWhileReading(int32_t app, uint32_t firstId) {
  const int kRecords = 3000;
  TempDir dir;
  std::vector<StreamInfoPtr> records;
  for (int i = 0; i < kRecords; ++i) {
    records.emplace_back(new StreamInfo(firstId + i, dir.sub("s")));
    records.back()->setJob(1, app);
    records.back()->addFilePath("item");
    records.back()->setQuitFlag();
  }
  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (const StreamInfoPtr& record : records) {
      {
        KaCriticalSectionLock lock(&gStreamLock);
        gStreams[record->getStreamId()] = record;
      }
      KaCriticalSectionLock lock(&gStreamLock);
      std::list<std::string> committed;
      std::string sequence = "1";
      record->getCommitGUIDList(sequence, committed);
      DropStreamIfDone(record);
    }
    done = true;
  });
  uint64_t last = 0;
  int reads = 0;
  while (!done) {
    const uint64_t now = GetApplicationTotals()[app].figures.itemsRecorded;
    EXPECT_GE(now, last) << "application " << app << ", after " << reads << " reads";
    if (now < last) break;
    last = now;
    ++reads;
  }
  churn.join();
  const ApplicationTotals totals = GetApplicationTotals()[app];
  EXPECT_EQ(static_cast<uint64_t>(kRecords), totals.figures.itemsRecorded);
  EXPECT_EQ(static_cast<uint64_t>(kRecords), totals.figures.itemsCommitted);
  EXPECT_EQ(0u, totals.figures.uncommitted);
  EXPECT_EQ(0u, totals.itemsAbandoned);
}

TEST(RetiredStatisticsTest, TotalsNeverGoBackWhileRecordsLeave) {
  ScopedLogCapture quiet(-1);
  for (int round = 0; round < 8 && !HasFailure(); ++round) {
    ChurnWhileReading(7001 + round, 3000000000u + 10000u * round);
  }
}

}  // namespace
}  // namespace ObjectStore

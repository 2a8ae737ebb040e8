#include "RetiredStatistics.h"

#include <utility>

#include "KaCriticalSectionLock.h"

namespace ObjectStore {

namespace {

// The retired figures, by application id. Guarded by gStreamLock: they change in the same
// critical section in which their records leave the registry.
std::map<int32_t, ApplicationTotals> gRetired GUARDED_BY(gStreamLock);

}  // namespace

void RetireStreamStatistics(StreamInfo& record) {
  StreamStatistics figures = record.statistics();
  ApplicationTotals& totals = gRetired[figures.appId];
  // Items left in a replaced record are no longer uncommitted anywhere: they stay counted, as
  // abandoned, so that the application's figures still add up.
  totals.itemsAbandoned += figures.uncommitted;
  figures.uncommitted = 0;
  figures.oldestUncommittedAgeSeconds = 0;
  AddStreamStatistics(figures, &totals.figures);
}

std::map<int32_t, ApplicationTotals> GetApplicationTotals() {
  KaCriticalSectionLock lock(&gStreamLock);
  std::map<int32_t, ApplicationTotals> totals = gRetired;
  for (const auto& entry : gStreams) {
    const StreamStatistics figures = entry.second->statistics();
    AddStreamStatistics(figures, &totals[figures.appId].figures);
  }
  for (auto& entry : totals) {
    entry.second.figures.appId = entry.first;
    entry.second.figures.aFileId = 0;
    entry.second.figures.jobId = 0;
  }
  return totals;
}

}  // namespace ObjectStore

#include "ApplicationHistory.h"

#include <ctime>

#include "KaCriticalSection.h"
#include "KaCriticalSectionLock.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

namespace {

KaCriticalSection gHistoryLock;
std::map<int32_t, ApplicationJobs> gHistory GUARDED_BY(gHistoryLock);

}  // namespace

void NoteJobStarted(const boost::shared_ptr<BackupInterface>& controller, int32_t appId,
                    int64_t jobId, int64_t startTime) {
  KaCriticalSectionLock lock(&gHistoryLock);
  ApplicationJobs& jobs = gHistory[appId];
  ++jobs.jobsStarted;
  jobs.latest = controller;
  jobs.latestJobId = jobId;
  jobs.latestStartTime = startTime;
}

void NoteJobEnded(const ControllerStatistics& final, uint32_t result) {
  EndedJobStatistics ended;
  ended.jobId = final.jobId;
  ended.startTime = final.startTime;
  ended.endTime = static_cast<int64_t>(std::time(nullptr));
  ended.result = result;
  ended.total = final.total;
  KaCriticalSectionLock lock(&gHistoryLock);
  ApplicationJobs& jobs = gHistory[final.appId];
  ++jobs.jobsEnded;
  jobs.hasLastEndedJob = true;
  jobs.lastEndedJob = ended;
}

std::map<int32_t, ApplicationJobs> GetApplicationJobs() {
  KaCriticalSectionLock lock(&gHistoryLock);
  return gHistory;
}

}  // namespace ObjectStore

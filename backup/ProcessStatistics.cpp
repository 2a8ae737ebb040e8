// The snapshot of the whole process (GetProcessStatistics, BackupStatistics.h). It walks the
// controller registry and asks each controller for its figures, so it sits with the controller,
// above statistics/.
#include <ctime>
#include <set>

#include "ApplicationHistory.h"
#include "BackupStatistics.h"
#include "KaCriticalSectionLock.h"
#include "ObjStoreBackupInterface.h"
#include "RetiredStatistics.h"

namespace ObjectStore {

namespace {

std::vector<BackupInterfacePtr> RegisteredControllers() {
  std::vector<BackupInterfacePtr> controllers;
  KaCriticalSectionLock lock(&gObjectCreationLock);
  for (const auto& entry : gObjToAppIdMap) {
    BackupInterfacePtr controller = entry.second.lock();
    if (controller) controllers.push_back(controller);
  }
  return controllers;
}

std::vector<StreamInfoPtr> RegisteredStreams() {
  std::vector<StreamInfoPtr> records;
  KaCriticalSectionLock lock(&gStreamLock);
  for (const auto& entry : gStreams) records.push_back(entry.second);
  return records;
}

// The latest job of an application: its controller's own state while the host keeps it.
void DescribeLatestJob(const ApplicationJobs& jobs, ApplicationStatistics* application) {
  application->hasJob = jobs.jobsStarted != 0;
  application->jobId = jobs.latestJobId;
  application->jobStartTime = jobs.latestStartTime;
  const BackupInterfacePtr controller = jobs.latest.lock();
  if (controller) {
    application->jobState = controller->statistics().state;
  } else if (jobs.hasLastEndedJob && jobs.lastEndedJob.jobId == jobs.latestJobId) {
    application->jobState = JobState::kEnded;
  } else {
    application->jobState = JobState::kEndFailed;  // dropped before its end completed
  }
}

std::vector<ApplicationStatistics> Applications() {
  const std::map<int32_t, ApplicationJobs> history = GetApplicationJobs();
  const std::map<int32_t, ApplicationTotals> totals = GetApplicationTotals();
  std::map<int32_t, ApplicationStatistics> applications;
  for (const auto& entry : totals) {
    ApplicationStatistics& application = applications[entry.first];
    application.totals = entry.second.figures;
    application.itemsAbandoned = entry.second.itemsAbandoned;
  }
  for (const auto& entry : history) {
    ApplicationStatistics& application = applications[entry.first];
    application.jobsStarted = entry.second.jobsStarted;
    application.jobsEnded = entry.second.jobsEnded;
    application.hasLastEndedJob = entry.second.hasLastEndedJob;
    application.lastEndedJob = entry.second.lastEndedJob;
    DescribeLatestJob(entry.second, &application);
  }
  std::vector<ApplicationStatistics> list;
  for (auto& entry : applications) {
    entry.second.appId = entry.first;
    entry.second.totals.appId = entry.first;
    list.push_back(entry.second);
  }
  return list;
}

}  // namespace

ProcessStatistics GetProcessStatistics() {
  ProcessStatistics process;
  process.takenAt = static_cast<int64_t>(std::time(nullptr));
  std::set<uint32_t> seen;
  // A controller found here may go meanwhile: the copy keeps it alive, and its last pointer
  // goes when this function returns, outside every lock.
  const std::vector<BackupInterfacePtr> controllers = RegisteredControllers();
  for (const BackupInterfacePtr& controller : controllers) {
    process.controllers.push_back(controller->statistics());
    for (const StreamStatistics& stream : process.controllers.back().streams) {
      seen.insert(stream.aFileId);
    }
  }
  for (const StreamInfoPtr& record : RegisteredStreams()) {
    if (seen.count(record->getStreamId()) == 0)
      process.otherStreams.push_back(record->statistics());
  }
  process.applications = Applications();
  return process;
}

}  // namespace ObjectStore

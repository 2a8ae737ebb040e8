#include "BackupStatistics.h"

#include <algorithm>
#include <ctime>
#include <set>

#include "KaCriticalSectionLock.h"
#include "ObjStoreBackupInterface.h"

namespace ObjectStore {

const char* JobStateName(JobState state) {
  switch (state) {
    case JobState::kRunning:
      return "running";
    case JobState::kEnding:
      return "ending";
    case JobState::kEnded:
      return "ended";
    case JobState::kEndFailed:
      return "end_failed";
  }
  return "unknown";
}

void AddStreamStatistics(const StreamStatistics& stream, StreamStatistics* total) {
  total->itemsRecorded += stream.itemsRecorded;
  total->bytesSent += stream.bytesSent;
  total->itemsCommitted += stream.itemsCommitted;
  total->handedBackFailedSend += stream.handedBackFailedSend;
  total->handedBackCommitTimeout += stream.handedBackCommitTimeout;
  total->handedBackException += stream.handedBackException;
  total->uncommitted += stream.uncommitted;
  total->oldestUncommittedAgeSeconds =
      std::max(total->oldestUncommittedAgeSeconds, stream.oldestUncommittedAgeSeconds);
  total->forcedCommitsLimit += stream.forcedCommitsLimit;
  total->forcedCommitsInterval += stream.forcedCommitsInterval;
  total->commitsRefusedStale += stream.commitsRefusedStale;
  total->commitsRefusedTooHigh += stream.commitsRefusedTooHigh;
  total->commitLatency.merge(stream.commitLatency);
  total->lastCommitTime = std::max(total->lastCommitTime, stream.lastCommitTime);
}

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
  return process;
}

}  // namespace ObjectStore

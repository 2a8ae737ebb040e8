// Ending a backup job: release the streams, end the pipeline job, wait for outstanding commits
// and hand back what did not commit, then remove the job directory.
#include <chrono>
#include <string>
#include <vector>

#include "ApplicationHistory.h"
#include "CUxDirectory.h"
#include "JobStatus.h"
#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "ObjStoreBackupInterface.h"
#include "StreamRegistry.h"
#include "StreamSlots.h"
#include "StreamSpread.h"
#include "UxSleep.h"

namespace ObjectStore {

using OBJECTOPSAPI::CStreamHandlerPtr;
typedef std::chrono::steady_clock Clock;

namespace {

// Waits until `stream` holds no uncommitted item or `deadline` has passed. Only the emptiness
// counts: a signal left over from earlier in the job does not end the wait.
void WaitUntilDrained(StreamInfo& stream, Clock::time_point deadline) {
  while (stream.getStreamCacheSize() != 0) {
    const Clock::duration remaining = deadline - Clock::now();
    if (remaining <= Clock::duration::zero()) return;
    // Rounded up: rounded down, the last part of a millisecond would end the wait early.
    const long waitMs =
        static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(remaining).count());
    stream.callbackEvent.wait(waitMs);
  }
}

// The items each stream received, as far as its commits and its uncommitted items tell. The list
// is read first: an item that a commit moves meanwhile counts twice rather than not at all.
std::vector<uint64_t> ItemsPerStream(const std::vector<StreamInfoPtr>& records) {
  std::vector<uint64_t> items;
  for (const StreamInfoPtr& record : records) {
    const uint64_t uncommitted = record->getStreamCacheSize();
    const int64_t committed = record->getPreviousSequenceNumber();
    items.push_back(uncommitted + static_cast<uint64_t>(committed > 0 ? committed : 0));
  }
  return items;
}

}  // namespace

CUxError BackupInterface::endBackup(std::list<std::string>& failedList, bool waitForCommits) {
  JobState before = JobState::kRunning;
  if (!beginEnd(&before)) {
    OBJSTORE_LOG(-1, "ERROR: endBackup of job [%lld] is already running",
                 static_cast<long long>(jobInfo->jobId));
    return UX_ERROR(kErrBackupEnded, "endBackup is already running for this job");
  }
  // One deadline for the sends still in flight and for the commits after them.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.commitWaitMs);
  std::vector<StreamInfoPtr> records = releaseStreams(deadline);
  unregister();

  CUxError result = pipelineJob->endBackup(kJobStatusEnded);
  // Whatever the pipeline said, the handler no longer keeps the controller alive: after a
  // failed end the pipeline may hold the handler for good, and a host that gives up must be able
  // to free the controller by dropping its pointer.
  letGoOfCommitHandler();
  if (result.IsError()) {
    jobState.store(before == JobState::kEnded ? JobState::kEnded : JobState::kEndFailed);
    OBJSTORE_LOG(-1, "ERROR: Stop job failed/Job not running.");
    return result.Push(UX_CODE_LOCATION);
  }
  WarnIfOneStreamTookAll(jobInfo->jobId, ItemsPerStream(records));

  bool allCommitted = true;
  if (waitForCommits) allCommitted = waitForStreams(records, deadline, failedList);
  dropEndedStreams(records);
  records.clear();
  jobState.store(JobState::kEnded);
  const CUxError outcome = removeJobDirectory(allCommitted);
  NoteJobEnded(statistics(), outcome.GetErrorCode());
  return outcome;
}

bool BackupInterface::beginEnd(JobState* before) {
  JobState current = jobState.load();
  do {
    if (current == JobState::kEnding) return false;
  } while (!jobState.compare_exchange_weak(current, JobState::kEnding));
  *before = current;
  return true;
}

void BackupInterface::letGoOfCommitHandler() {
  OBJECTOPSAPI::CCommitHandlerPtr handler;
  {
    KaCriticalSectionLock lock(&callBackLock);
    handler.swap(commitHandler);
  }
  if (!handler) return;  // a second end
  static_cast<ChunkCommitHandler*>(handler.get())->releaseOwner();
  // The handler is destroyed outside the lock, when the pipeline has let go of it too.
  handler.reset();
}

CUxError BackupInterface::removeJobDirectory(bool allCommitted) {
  const std::string jobDirectory =
      ObjectStoreStatic::rootDir + "/" + std::to_string(jobInfo->jobId);
  OBJSTORE_LOG(1, "About to cleanup job directory [%s]", jobDirectory.c_str());
  CUxError removal = CUxDirectory::Remove(jobDirectory.c_str(), true, true);
  if (removal.IsError()) {
    OBJSTORE_LOG(-1, "ERROR: failed to remove the job directory [%s].", jobDirectory.c_str());
  }
  if (!allCommitted) {
    return UX_ERROR(kErrNoCommitInTime, "commit call backup not received in expected time");
  }
  if (removal.IsError()) return removal.Push(UX_CODE_LOCATION);
  OBJSTORE_LOG(1, "INFO: Stop job successful and job directory [%s] cleaned up ",
               jobDirectory.c_str());
  return CUxError();
}

// New sends are refused from here on; the sends already running are waited for, so that every
// stream is released and every record waited on, and no item that a late send records is left
// behind. A send still running at the deadline keeps its items' fate in its own hands: the
// pipeline refuses it once the stream is released, and it hands its stream's items back.
std::vector<StreamInfoPtr> BackupInterface::releaseStreams(Clock::time_point deadline) {
  if (!streams->closeAndDrain(deadline)) {
    OBJSTORE_LOG(-1,
                 "ERROR: sendItem calls of job [%lld] still running at the end of the backup; "
                 "their streams are released under them",
                 static_cast<long long>(jobInfo->jobId));
  }
  std::vector<StreamInfoPtr> records;
  for (StreamSlot* slot : streams->all()) {
    // The slot holds the stream's record since the job started; no registry lookup needed.
    if (slot->stream->isRegistered()) {
      slot->stream->setQuitFlag();
      records.push_back(slot->stream);
    } else if (!slot->released) {  // once released, an emptied record leaves the registry
      OBJSTORE_LOG(-1, "WARN: stream cache would have been there.");
    }
    if (slot->released) continue;  // by an earlier end whose pipeline stop failed
    OBJSTORE_LOG(1, "INFO: Releasing the stream with streamID [%u]", slot->handler->getAfileID());
    CStreamHandlerPtr handler = slot->handler;
    pipelineJob->releaseStreamHandler(handler);
    slot->released = true;
  }
  return records;
}

void BackupInterface::dropEndedStreams(const std::vector<StreamInfoPtr>& records) {
  KaCriticalSectionLock lock(&gStreamLock);
  // Records that still hold items stay until their last commit arrives (commitUpdate).
  for (const StreamInfoPtr& record : records) DropStreamIfDone(record);
}

void BackupInterface::unregister() {
  KaCriticalSectionLock lock(&gObjectCreationLock);
  std::map<int32_t, boost::weak_ptr<BackupInterface> >::iterator it =
      gObjToAppIdMap.find(jobInfo->appId);
  // Only this controller's own entry: a newer controller of the application stays registered.
  if (it != gObjToAppIdMap.end() && (it->second.expired() || it->second.lock().get() == this)) {
    gObjToAppIdMap.erase(it);
  }
}

// Every stream gets the same deadline, counted from the start of the wait: a job whose commits
// stopped gives up after one wait, not one per stream.
bool BackupInterface::waitForStreams(const std::vector<StreamInfoPtr>& records,
                                     Clock::time_point deadline,
                                     std::list<std::string>& failedList) {
  for (const StreamInfoPtr& stream : records) {
    OBJSTORE_LOG(1, "INFO: waiting on callback event");
    WaitUntilDrained(*stream, deadline);
  }
  bool allCommitted = true;
  for (const StreamInfoPtr& stream : records) {
    if (stream->getStreamCacheSize() != 0) {
      handBackTimedOut(*stream, failedList);
      allCommitted = false;
      continue;
    }
    while (stream->isCleanupInProgres()) {
      OBJSTORE_LOG(1, "INFO: stream Cache still in progress. Waiting till it finishes");
      UXSLEEP_InTeRnAl(static_cast<unsigned long>(options.cleanupPollMs), __FILE__, __LINE__);
    }
  }
  return allCommitted;
}

void BackupInterface::handBackTimedOut(StreamInfo& stream, std::list<std::string>& failedList) {
  OBJSTORE_LOG(-1,
               "ERROR: commit call backup not received in expected time. uncommited data will "
               "be resent when object store is opened again");
  OBJSTORE_LOG(-1, "Please open the Object Store again!!!!!!!!!");
  KaCriticalSectionLock failedLock(&failedListLock);
  // As in a failed send: copy and empty in one step.
  const size_t before = failedList.size();
  stream.takeAllItems(failedList, HandBackCause::kCommitTimeout);
  OBJSTORE_LOG(-1, "ERROR: Moved all items from stream cache with afile ID [%u] into failedList",
               stream.getStreamId());
  OBJSTORE_LOG(-1, "ERROR: handed back [%zu] items of the stream with afile ID [%u] (%s)",
               failedList.size() - before, stream.getStreamId(), "commit timeout");
}

}  // namespace ObjectStore

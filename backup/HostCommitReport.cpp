#include "HostCommitReport.h"

#include <utility>

#include "LogWriter.h"

namespace ObjectStore {

HostCommitReport::HostCommitReport(BackupInterface& controller, Source source,
                                   std::string sequenceNumber, uint64_t loggedId)
    : controller_(controller),
      source_(source),
      sequenceNumber_(std::move(sequenceNumber)),
      loggedId_(loggedId) {}

bool HostCommitReport::take(StreamInfo& record, std::list<std::string>& committed) {
  controller_.getCallBack(&callBack_, &context_);
  switch (source_) {
    case Source::kNotification:
      return takeNotified(record, committed);
    case Source::kKept:
      return takeKept(record, committed);
    case Source::kCovered:
      return takeCovered(record, committed);
  }
  return false;
}

bool HostCommitReport::takeNotified(StreamInfo& record, std::list<std::string>& committed) {
  if (callBack_ == nullptr) {
    // Nobody to tell: the items stay uncommitted, and the number waits for the next callback
    // set (setCallBack) or the next commit, whichever comes first; without either, endBackup
    // hands the items back.
    OBJSTORE_LOG(1, "INFO: no commit callback set; commit of stream [%lu] at [%s] kept",
                 static_cast<unsigned long>(loggedId_), sequenceNumber_.c_str());
    record.noteUnreportedCommit(sequenceNumber_);
    return false;
  }
  // Reported also when the number covers nothing new: the host hears of every commit.
  record.getCommitGUIDList(sequenceNumber_, committed);
  return true;
}

bool HostCommitReport::takeKept(StreamInfo& record, std::list<std::string>& committed) {
  if (callBack_ == nullptr) return false;  // removed again meanwhile: the number stays kept
  std::string kept;
  if (!record.takeUnreportedCommit(&kept)) return false;
  record.getCommitGUIDList(kept, committed);
  return true;
}

bool HostCommitReport::takeCovered(StreamInfo& record, std::list<std::string>& committed) {
  // Without a callback the item stays, and the number that covered it is kept for the next one.
  return record.takeCoveredItem(committed, callBack_ != nullptr);
}

void HostCommitReport::deliver(uint32_t aFileId, std::list<std::string> committed) {
  const unsigned long long logged = loggedId_ != 0 ? loggedId_ : aFileId;
  OBJSTORE_LOG(2, "CommitCallBack: streamId [%llu] Commited Count [%d]", logged,
               static_cast<int>(committed.size()));
  callBack_(aFileId, std::move(committed), context_);
}

}  // namespace ObjectStore

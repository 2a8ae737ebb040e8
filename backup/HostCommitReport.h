// HostCommitReport: a report of committed items to a controller's callback, made through the
// stream registry's one report path (ReportCommits, StreamRegistry.h). Internal to the library.
//
// Three sources make one:
//   kNotification  the pipeline's commit notification (ChunkCommitHandler::commitUpdate)
//   kKept          a commit that arrived while no callback was set, reported by setCallBack
//   kCovered       an item that a commit covered while its end-of-file was being sent, reported
//                  by its sender once that end-of-file went through (sendItem)
// Each reads the callback under gStreamLock, in take(): a setCallBack meanwhile takes effect from
// the next report on. Without a callback nothing is reported and nothing is lost: the number is
// kept on the record for the next callback set.
#ifndef OBJSTORE_BACKUP_HOSTCOMMITREPORT_H_
#define OBJSTORE_BACKUP_HOSTCOMMITREPORT_H_

#include <cstdint>
#include <list>
#include <string>

#include "ObjStoreBackupInterface.h"
#include "StreamRegistry.h"

namespace ObjectStore {

class HostCommitReport : public CommitReporter {
 public:
  enum class Source { kNotification, kKept, kCovered };

  // `sequenceNumber` is the notification's number (kNotification only); `loggedId` the aFile ID
  // as the notification gave it, high bits included, for the log (0: the record's own id).
  HostCommitReport(BackupInterface& controller, Source source,
                   std::string sequenceNumber = std::string(), uint64_t loggedId = 0);

  bool take(StreamInfo& record, std::list<std::string>& committed) override;
  void deliver(uint32_t aFileId, std::list<std::string> committed) override;

 private:
  bool takeNotified(StreamInfo& record, std::list<std::string>& committed);
  bool takeKept(StreamInfo& record, std::list<std::string>& committed);
  // Only the sender makes a covered report, from sendOnStream, while it holds record.sendLock.
  bool takeCovered(StreamInfo& record, std::list<std::string>& committed) NO_THREAD_SAFETY_ANALYSIS;

  BackupInterface& controller_;
  const Source source_;
  std::string sequenceNumber_;
  const uint64_t loggedId_;
  CommitCallBack callBack_ = nullptr;  // read in take()
  void* context_ = nullptr;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_HOSTCOMMITREPORT_H_

#include "StreamRegistry.h"

#include <utility>

#include "KaCriticalSectionLock.h"

namespace ObjectStore {

namespace {

void ReportLocked(const StreamInfoPtr& record, CommitReporter& reporter) REQUIRES(gStreamLock) {
  std::list<std::string> committed;
  const bool report = reporter.take(*record, committed);
  // Whether or not there is anything to tell: a record of an ended job that this step emptied
  // must not stay registered for ever.
  DropStreamIfDone(record);
  if (report) reporter.deliver(record->getStreamId(), std::move(committed));
}

}  // namespace

void ReportCommits(const StreamInfoPtr& record, CommitReporter& reporter) {
  KaCriticalSectionLock lock(&gStreamLock);
  ReportLocked(record, reporter);
}

bool ReportCommits(uint32_t aFileId, CommitReporter& reporter) {
  KaCriticalSectionLock lock(&gStreamLock);
  std::map<uint32_t, StreamInfoPtr>::iterator it = gStreams.find(aFileId);
  if (it == gStreams.end()) return false;
  // A copy: the drop may erase the entry the iterator points at.
  const StreamInfoPtr record = it->second;
  ReportLocked(record, reporter);
  return true;
}

}  // namespace ObjectStore

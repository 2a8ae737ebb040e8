// Sending one cached item on the stream its header selects.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#include "AutoOpenSegment.h"
#include "EvEvent.h"
#include "FastChecksum.h"
#include "HostCommitReport.h"
#include "ItemHeader.h"
#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "ObjStoreBackupInterface.h"
#include "PerfCounters.h"
#include "StreamSlots.h"

namespace ObjectStore {

using OBJECTOPSAPI::CStreamHandlerPtr;

namespace {

const char kPerfLabel[] = "BackupInterface::sendItem";
const int kItemUnreadableEvent = 0x4A0004E9;

void RaiseItemEvent(const char* item, long long jobId) {
  EvEvent event;
  if (item != nullptr) event << item;
  event.MajorEvent(kItemUnreadableEvent, jobId, 0);
}

// A section the pipeline would get with a truncated 32-bit length, or null.
const SectionV* FindOversizedSection(const std::vector<SectionV>& sections, uint64_t limit) {
  for (const SectionV& section : sections) {
    bool sent = section.type == kFileDataSection || section.type == kMetaDataSection;
    if (sent && section.data.size() > limit) return &section;
  }
  return nullptr;
}

// The section's data is the header record itself. A section too short for a whole record (only
// the first header section was checked), or one not aligned for it, goes as a zero-filled copy.
CUxError SendHeader(OBJECTOPSAPI::CStreamHandler& handler, const std::vector<char>& data) {
  typedef OBJECTOPSAPI::CXFileHeader Header;
  const bool whole = data.size() >= sizeof(Header) &&
                     reinterpret_cast<uintptr_t>(data.data()) % alignof(Header) == 0;
  if (whole) return handler.sendHeader(reinterpret_cast<Header*>(const_cast<char*>(data.data())));
  Header header;
  memset(&header, 0, sizeof(header));
  if (!data.empty()) memcpy(&header, data.data(), std::min(data.size(), sizeof(header)));
  return handler.sendHeader(&header);
}

CUxError SendSection(OBJECTOPSAPI::CStreamHandler& handler, const SectionV& section,
                     const char* item) {
  CUxError error;
  const char* what = nullptr;
  if (section.type == kStreamHeaderSection) {
    error = SendHeader(handler, section.data);
    what = "ERROR: failed to send the Header for file [%s] with error [%s]";
  } else if (section.type == kMetaDataSection) {
    error = handler.sendMetaData(section.metaDataType, section.data.data(),
                                 static_cast<uint32_t>(section.data.size()));
    what = "ERROR: failed to send the metadata for file [%s] with error [%s]";
  } else {
    handler.startSingleInstanceData();
    error =
        handler.sendUserBufData(section.data.data(), static_cast<uint32_t>(section.data.size()));
    what = "ERROR: failed to send the data for file [%s] with error [%s]";
  }
  if (error.IsError()) OBJSTORE_LOG(-1, what, item, error.AsString().c_str());
  return error;
}

bool IsSentType(int32_t type) {
  return type == kStreamHeaderSection || type == kFileDataSection || type == kMetaDataSection;
}

// Sends the item's sections in segment order up to the first failure, which it returns.
CUxError SendSections(OBJECTOPSAPI::CStreamHandler& handler, const std::vector<SectionV>& sections,
                      const char* item, int64_t* bytesSent) {
  for (const SectionV& section : sections) {
    if (!IsSentType(section.type)) continue;
    CUxError error = SendSection(handler, section, item);
    if (error.IsError()) return error;
    *bytesSent += static_cast<int64_t>(section.data.size());
  }
  return CUxError();
}

// Runs `action` when the scope ends, however it ends. `action` must not throw.
template <typename Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() { action_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Action action_;
};

}  // namespace

CUxError BackupInterface::sendItem(const char* item, std::list<std::string>& failedList,
                                   int64_t* bytesSent, int* streamIndex, DiskCache& cache,
                                   DiskCacheContext& context) {
  if (item == nullptr) return UX_ERROR(EINVAL, "sendItem needs an item name");
  OBJSTORE_LOG(5, "sending item [%s]", item);
  const long long jobId = jobInfo->jobId;

  // One copy of the name serves the segment map, the read and the stream cache's record.
  std::string name(item);
  std::vector<SectionV> sections;
  AutoOpenSegment segment(cache, name);
  CUxError error = readSections(cache, context, name, segment.getSegInfo(), sections);
  if (error.IsError()) return error;

  const SectionV* header = FindSection(sections, kStreamHeaderSection);
  if (header == nullptr) {
    OBJSTORE_LOG(-1, "ERROR: Can't find cxheader [%s]", item);
    RaiseItemEvent(nullptr, jobId);
    return UX_ERROR(kErrHeaderUnparsable);
  }
  std::string_view streamKey;
  if (!ReadStreamKey(header->data, &streamKey)) {
    OBJSTORE_LOG(-1, "ERROR: Can't parse h_filename [%s] [%s]", item,
                 HeaderFilenameText(header->data).c_str());
    RaiseItemEvent(nullptr, jobId);
    return UX_ERROR(kErrHeaderUnparsable);
  }
  const SectionV* oversized = FindOversizedSection(sections, options.maxSectionBytes);
  if (oversized != nullptr) {
    OBJSTORE_LOG(-1, "ERROR: a section of item [%s] holds [%zu] bytes, more than a send can carry",
                 item, oversized->data.size());
    return UX_ERROR(kErrSectionTooLarge, "section of %zu bytes is too large to send",
                    oversized->data.size());
  }

  StreamSlot* slot =
      takeStream(fastChecksum(streamKey.data(), streamKey.size()), streamIndex, &error);
  if (slot == nullptr) return error;
  // Given back however this call ends: a handler held for good would be neither released nor
  // waited on by endBackup, and its stream's items would be lost.
  ScopeExit giveBack([this, slot] { streams->give(slot); });
  OBJSTORE_LOG(2, "INFO: stream with aFile ID [%u] found", slot->handler->getAfileID());
  error = checkStreamCache(*slot);
  if (error.IsError()) return error;
  OBJSTORE_LOG(2, "INFO: stream cache found for this stream.");

  const StreamInfoPtr& record = slot->stream;
  KaCriticalSectionLock sendLock(&record->sendLock);
  error = sendOnStream(record, *slot->handler, item, std::move(name), sections, failedList,
                       bytesSent, cache, context);
  if (!error.IsError()) return error;
  return error.Push(UX_CODE_LOCATION);
}

CUxError BackupInterface::sendOnStream(const StreamInfoPtr& record,
                                       OBJECTOPSAPI::CStreamHandler& handler, const char* itemText,
                                       std::string item, const std::vector<SectionV>& sections,
                                       std::list<std::string>& failedList, int64_t* bytesSent,
                                       DiskCache& cache, DiskCacheContext& context) {
  forceCommitIfDue(record, handler, cache, context);
  OBJSTORE_LOG(2, "INFO: adding GUID [%s] to guid2filemap", itemText);
  record->addItemInFlight(std::move(item));

  // Where an exception leaves the item: not yet ended in the pipeline, or ended without our
  // knowing how. Either way it goes back to the host with its stream, as after a failed send.
  bool settled = false;
  bool eofSent = false;
  ScopeExit onThrow([&] {
    if (settled) return;
    try {
      // The pipeline counts an item only once it is ended; end it so that the stream's later
      // items keep their places in the count.
      if (!eofSent) handler.sendEof(false, nullptr, 0);
    } catch (...) {
      OBJSTORE_LOG(-1, "ERROR: could not end item [%s] after an exception", itemText);
    }
    try {
      handBack(record, failedList, HandBackCause::kException);
    } catch (...) {
      OBJSTORE_LOG(-1, "ERROR: could not hand back the items of stream [%u]",
                   record->getStreamId());
    }
  });

  OBJECT_STORE_START_PERF_COUNTER(kPerfLabel, kCounterWriteToPipeline);
  int64_t itemBytes = 0;
  CUxError error = SendSections(handler, sections, itemText, &itemBytes);
  if (bytesSent != nullptr) *bytesSent += itemBytes;
  record->noteBytesSent(static_cast<uint64_t>(itemBytes));
  bool sent = !error.IsError();
  eofSent = true;
  // While this runs, the item is in flight: a commit that counts its end-of-file record does not
  // release it (StreamInfo::addItemInFlight).
  CUxError eofError = handler.sendEof(sent, nullptr, 0);
  OBJECT_STORE_STOP_PERF_COUNTER(kPerfLabel, kCounterWriteToPipeline);
  if (eofError.IsError()) {
    OBJSTORE_LOG(-1, "ERROR: sending EOF failed");
    error = eofError;
    // The pipeline did not store the item's end: hand the stream back as for any failed send
    // rather than report an item that may not have been stored.
    sent = false;
  }
  settled = true;
  if (!sent) {
    handBack(record, failedList, HandBackCause::kFailedSend);
    return error;
  }
  reportIfCovered(record);
  return CUxError();
}

void BackupInterface::reportIfCovered(const StreamInfoPtr& record) {
  // Usually no commit came during the end-of-file: no lock needed.
  if (record->landUncovered()) return;
  HostCommitReport report(*this, HostCommitReport::Source::kCovered);
  ReportCommits(record, report);
}

CUxError BackupInterface::readSections(DiskCache& cache, DiskCacheContext& context,
                                       const std::string& item, OpenSegmentInfo* segment,
                                       std::vector<SectionV>& sections) {
  KaCriticalSectionLock segmentLock(&segment->segmentLock);
  OBJECT_STORE_START_PERF_COUNTER(kPerfLabel, kCounterReadForBackup);
  CUxError error = cache.readAllSections(context, item, sections);
  if (error.IsError()) {
    RaiseItemEvent(item.c_str(), jobInfo->jobId);
    OBJSTORE_LOG(-1, "ERROR: failed to read segment [%s]", item.c_str());
  }
  segmentLock.release();
  OBJECT_STORE_STOP_PERF_COUNTER(kPerfLabel, kCounterReadForBackup);
  return error;
}

StreamSlot* BackupInterface::takeStream(int checksum, int* streamIndex, CUxError* error) {
  size_t index = 0;
  StreamSlot* slot = streams->take(checksum, &index);
  if (slot == nullptr) {
    OBJSTORE_LOG(-1, "ERROR: no stream handlers: the backup has ended");
    *error = UX_ERROR(kErrBackupEnded, "the backup has ended: no stream to send on");
    return nullptr;
  }
  if (streamIndex != nullptr) *streamIndex = static_cast<int>(index);
  return slot;
}

// The slot holds the stream's record since the job started; the registry's flag on it says
// whether gStreams still holds it under the stream's id, without a lookup under gStreamLock.
CUxError BackupInterface::checkStreamCache(const StreamSlot& slot) {
  if (slot.stream->isRegistered()) return CUxError();
  OBJSTORE_LOG(-1,
               "ERROR: stream cache not found for this stream. It should have been previously "
               "added.");
  return UX_ERROR(kErrStreamCacheNotFound, "stream cache not found for this stream");
}

void BackupInterface::forceCommitIfDue(const StreamInfoPtr& record,
                                       OBJECTOPSAPI::CStreamHandler& handler, DiskCache& cache,
                                       DiskCacheContext& context) {
  const uint64_t uncommitted = record->getUncommittedCount();
  if (uncommitted == 0) return;
  const int64_t now = BackupNow(options);
  const bool limitReached = uncommitted >= record->getMaxUncommittedCount();
  const bool due =
      limitReached || now >= record->getLastCommitTime() + options.forcedCommitIntervalSeconds;
  if (!due || !cache.isUnderSpacePressure(context)) return;
  record->noteForcedCommit(limitReached);
  OBJSTORE_LOG(2,
               "INFO: DiskCache is under space pressure. Will commit the chunk. streamId [%u] "
               "UncommittedCount [%d]",
               record->getStreamId(), static_cast<int>(uncommitted));
  CUxError error = handler.commitData();
  if (error.IsError()) {
    OBJSTORE_LOG(-1, "ERROR: failed to commit [%s]. Will continue to backup current item anyway.",
                 error.AsString().c_str());
  }
  record->setLastCommitTime(now);
}

void BackupInterface::handBack(const StreamInfoPtr& record, std::list<std::string>& failedList,
                               HandBackCause cause) {
  // The registry's lock too: a send that the end of its job overtook empties a record that no
  // commit will look at again, and it must leave the registry here.
  KaCriticalSectionLock registryLock(&gStreamLock);
  KaCriticalSectionLock failedLock(&failedListLock);
  // Copy and empty in one step: a commit, or another thread's item added to this stream in
  // between, would otherwise be reported twice or lost.
  const size_t before = failedList.size();
  record->takeAllItems(failedList, cause);
  DropStreamIfDone(record);
  OBJSTORE_LOG(-1, "ERROR: Moved all the items from stream cache into failedList");
  // The line above names neither the stream nor the cost: one failed send may hand back
  // hundreds of items the store already holds, which the host then sends again.
  OBJSTORE_LOG(-1, "ERROR: handed back [%zu] items of the stream with afile ID [%u] (%s)",
               failedList.size() - before, record->getStreamId(),
               cause == HandBackCause::kException ? "exception" : "failed send");
}

}  // namespace ObjectStore

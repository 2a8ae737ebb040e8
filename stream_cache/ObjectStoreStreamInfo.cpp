#include "ObjectStoreStreamInfo.h"

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <utility>

#include "KAPlatformInfo.h"
#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "ObjectStoreStatic.h"
#include "RetiredStatistics.h"
#include "StreamRegistry.h"

namespace ObjectStore {

std::map<uint32_t, StreamInfoPtr> gStreams;
KaCriticalSection gStreamLock;

namespace {

const char kFileListName[] = "FILELIST";
const uint32_t kDefaultMaxUncommittedCount = 1000;

// Level 4 records one line per released item: only walk the run when that level is on.
bool ItemTracingEnabled() {
  CLogWriterInterface* writer = g_ptrLogWriter.get();
  return writer != nullptr && writer->getLevel() >= 4;
}

// frontSequenceNumber may already sit near the top of the range after a huge sequence number.
int64_t SaturatingAdd(int64_t base, size_t count) {
  const int64_t kMax = std::numeric_limits<int64_t>::max();
  if (count > static_cast<uint64_t>(kMax - base)) return kMax;
  return base + static_cast<int64_t>(count);
}

int64_t SteadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TraceCommittedItems(std::list<std::string>::const_iterator first,
                         std::list<std::string>::const_iterator last) {
  for (; first != last; ++first) {
    OBJSTORE_LOG(4, "INFO: GUID [%s] added to comittedList", first->c_str());
  }
}

}  // namespace

StreamInfo::StreamInfo(uint32_t streamId, std::string streamDir)
    : streamId(streamId),
      streamDir(std::move(streamDir)),
      quitFlag(false),
      cleanupInProgress(false),
      lastCommitTime(0),
      previousSequenceNumber(0),
      frontSequenceNumber(0),
      flight(kNoFlight),
      maxUncommittedCount(GetMaxUncommittedCount()),
      callbackEvent(false) {}

// A record made from a directory alone has no stream handler behind it, hence stream id 0.
StreamInfo::StreamInfo(std::string streamDir)
    : streamId(0),
      streamDir(std::move(streamDir)),
      quitFlag(false),
      cleanupInProgress(false),
      lastCommitTime(0),
      previousSequenceNumber(0),
      frontSequenceNumber(0),
      flight(kNoFlight),
      maxUncommittedCount(0),
      callbackEvent(false) {
  loadFromDisk();
  maxUncommittedCount = GetMaxUncommittedCount();
}

StreamInfo::~StreamInfo() {}

bool StreamInfo::init() {
  if (!ObjectStoreStatic::CreateDir(streamDir, true)) {
    OBJSTORE_LOG(-1, "Directory [%s] create failed", streamDir.c_str());
    return false;
  }
  return true;
}

bool StreamInfo::addFilePath(std::string item) {
  {
    KaCriticalSectionLock lock(&itemListLock);
    uncommittedItems.push_back(std::move(item));
    recordItemTime();
    itemCount.store(uncommittedItems.size(), std::memory_order_relaxed);
  }
  return SaveToDisk();
}

bool StreamInfo::removeAll() {
  std::list<std::string> removed;
  takeAllItems(removed);
  return true;
}

void StreamInfo::takeAllItems(std::list<std::string>& out) {
  takeAllItems(out, HandBackCause::kFailedSend);
}

void StreamInfo::takeAllItems(std::list<std::string>& out, HandBackCause cause) {
  {
    KaCriticalSectionLock lock(&itemListLock);
    const uint64_t count = uncommittedItems.size();
    if (cause == HandBackCause::kCommitTimeout) {
      counts.handedBackCommitTimeout += count;
    } else if (cause == HandBackCause::kException) {
      counts.handedBackException += count;
    } else {
      counts.handedBackFailedSend += count;
    }
    itemTimes.clear();
    // The handed-back items keep their places in the pipeline's count; a commit that covers
    // one of them later must not release the items added after them. A covered item in flight
    // may stand behind a number above its place, which is then the one to count from.
    frontSequenceNumber = std::max(SaturatingAdd(frontSequenceNumber, uncommittedItems.size()),
                                   previousSequenceNumber);
    flight.store(kNoFlight, std::memory_order_relaxed);
    out.splice(out.end(), uncommittedItems);
    itemCount.store(0, std::memory_order_relaxed);
  }
  callbackEvent.set();
}

void StreamInfo::addItemInFlight(std::string item) {
  KaCriticalSectionLock lock(&itemListLock);
  finalizeBackTime();  // the item before has landed: its end-of-file time is known
  uncommittedItems.push_back(std::move(item));
  recordItemTime();
  itemCount.store(uncommittedItems.size(), std::memory_order_relaxed);
  flight.store(kInFlight, std::memory_order_relaxed);
}

bool StreamInfo::landUncovered() {
  // Published by the exchange below, before which the end-of-file went through.
  landedAtUs.store(SteadyMicros(), std::memory_order_relaxed);
  // Usually no commit came meanwhile: end the flight without the item lock. A commit that looks
  // at the item later finds it landed and releases it like any other.
  int expected = kInFlight;
  return flight.compare_exchange_strong(expected, kNoFlight, std::memory_order_acq_rel) ||
         expected == kNoFlight;
}

bool StreamInfo::takeCoveredItem(std::list<std::string>& committedItems, bool report) {
  if (landUncovered()) return false;
  KaCriticalSectionLock lock(&itemListLock);
  if (flight.load(std::memory_order_relaxed) != kCovered) return false;
  flight.store(kNoFlight, std::memory_order_relaxed);
  if (!report) {
    // Nobody to tell: the covering number waits, as a commit that found no callback does, for
    // the next callback set (the pipeline may never send a number that high again).
    unreportedSequenceNumber = std::max(unreportedSequenceNumber, previousSequenceNumber);
    return false;
  }
  // The commit that covered the item released everything before it, and nothing was added
  // since: the item is the whole list.
  const size_t count = uncommittedItems.size();
  moveFront(static_cast<int64_t>(count), committedItems);
  frontSequenceNumber = std::max(SaturatingAdd(frontSequenceNumber, count), previousSequenceNumber);
  counts.lastCommitTime = static_cast<int64_t>(std::time(nullptr));
  lock.release();
  callbackEvent.set();
  return true;
}

void StreamInfo::getAllItem(std::list<std::string>& out) {
  KaCriticalSectionLock lock(&itemListLock);
  out.insert(out.end(), uncommittedItems.begin(), uncommittedItems.end());
}

// The lists live in memory only; nothing writes "FILELIST".
bool StreamInfo::SaveToDisk() {
  return true;
}

bool StreamInfo::loadFromDisk() {
  std::string path = streamDir + "/" + kFileListName;
  std::ifstream in(path.c_str());
  if (!in.is_open()) {
    OBJSTORE_LOG(1,
                 "WARN: file [%s] not present. It might not have been created as no backup done "
                 "for this job previously.",
                 path.c_str());
    return true;
  }
  KaCriticalSectionLock lock(&itemListLock);
  std::string item;
  while (in >> item) {
    uncommittedItems.push_back(item);
    recordItemTime();
  }
  itemCount.store(uncommittedItems.size(), std::memory_order_relaxed);
  return true;
}

// The sequence number counts every item the pipeline committed on this stream. Items handed back
// by removeAll were counted by frontSequenceNumber, so a number that only covers them releases
// nothing: the items added since are not yet committed.
void StreamInfo::noteUnreportedCommit(const std::string& sequenceNumber) {
  const int64_t received = std::strtoll(sequenceNumber.c_str(), nullptr, 10);
  KaCriticalSectionLock lock(&itemListLock);
  unreportedSequenceNumber = std::max(unreportedSequenceNumber, received);
}

bool StreamInfo::takeUnreportedCommit(std::string* sequenceNumber) {
  KaCriticalSectionLock lock(&itemListLock);
  if (unreportedSequenceNumber < 0) return false;
  *sequenceNumber = std::to_string(unreportedSequenceNumber);
  unreportedSequenceNumber = -1;
  return true;
}

bool StreamInfo::getCommitGUIDList(std::string& sequenceNumber,
                                   std::list<std::string>& committedItems) {
  // Read like atoll, but out-of-range text clamps instead of being undefined.
  const int64_t received = std::strtoll(sequenceNumber.c_str(), nullptr, 10);
  bool emptied = false;
  {
    KaCriticalSectionLock lock(&itemListLock);
    OBJSTORE_LOG(2, "INFO: Sequence Number received. [%s] Uncommitted Item Count [%zd]",
                 sequenceNumber.c_str(), static_cast<ssize_t>(uncommittedItems.size()));
    if (received < previousSequenceNumber) {
      ++counts.commitsRefusedStale;
      OBJSTORE_LOG(-1,
                   "ERROR: Backup storage agent sent lower sequence number [%lld] than the "
                   "previous [%lld].",
                   static_cast<long long>(received),
                   static_cast<long long>(previousSequenceNumber));
      return false;
    }
    previousSequenceNumber = received;
    releaseFront(received, committedItems);
    counts.lastCommitTime = static_cast<int64_t>(std::time(nullptr));
    emptied = uncommittedItems.empty();
  }
  if (emptied) callbackEvent.set();
  return true;
}

void StreamInfo::releaseFront(int64_t received, std::list<std::string>& committedItems) {
  const int64_t wanted = std::max<int64_t>(0, received - frontSequenceNumber);
  const int64_t available = static_cast<int64_t>(uncommittedItems.size());
  if (wanted > available) {
    ++counts.commitsRefusedTooHigh;
    OBJSTORE_LOG(-1, "We have less guids than the sequence number received.");
  }
  if (available > 0 && wanted >= available && holdInFlight()) {
    // The number covers the item whose end-of-file is still being sent: release the items
    // before it, and let the sender report it once its end-of-file has succeeded.
    moveFront(available - 1, committedItems);
    frontSequenceNumber = SaturatingAdd(frontSequenceNumber, static_cast<size_t>(available - 1));
    return;
  }
  moveFront(std::min(wanted, available), committedItems);
  // A surplus is not carried over to items added later.
  frontSequenceNumber = std::max(frontSequenceNumber, received);
}

bool StreamInfo::holdInFlight() {
  int state = flight.load(std::memory_order_acquire);
  if (state == kCovered) return true;
  // Only the sender moves the state without the item lock, from in flight to landed: if it did
  // so first, the item is no longer in flight and goes with the others.
  return state == kInFlight &&
         flight.compare_exchange_strong(state, kCovered, std::memory_order_acq_rel);
}

void StreamInfo::moveFront(int64_t count, std::list<std::string>& committedItems) {
  const int64_t kept = static_cast<int64_t>(uncommittedItems.size()) - count;
  if (kept == 0) finalizeBackTime();
  const int64_t now = SteadyMicros();
  for (int64_t i = 0; i < count && !itemTimes.empty(); ++i) {
    counts.commitLatency.add(now - itemTimes.front());
    itemTimes.pop_front();
  }
  counts.itemsCommitted += static_cast<uint64_t>(count);
  if (ItemTracingEnabled()) {
    std::list<std::string>::iterator last = uncommittedItems.begin();
    std::advance(last, count);
    TraceCommittedItems(uncommittedItems.begin(), last);
  }
  // A commit usually covers all but the last few items. Moving a run costs a walk over it, so
  // move the shorter side: the committed front, or else the whole list out and the kept tail
  // back. The list's nodes were written by the sending threads; walking a thousand of them here
  // would hold the item lock through as many cache misses.
  if (count <= kept) {
    std::list<std::string>::iterator last = uncommittedItems.begin();
    std::advance(last, count);
    committedItems.splice(committedItems.end(), uncommittedItems, uncommittedItems.begin(), last);
  } else {
    std::list<std::string> released;
    released.splice(released.end(), uncommittedItems);
    std::list<std::string>::iterator firstKept = std::prev(released.end(), kept);
    uncommittedItems.splice(uncommittedItems.end(), released, firstKept, released.end());
    committedItems.splice(committedItems.end(), released);
  }
  itemCount.store(uncommittedItems.size(), std::memory_order_relaxed);
}

void StreamInfo::setQuitFlag() {
  quitFlag = true;
}

bool StreamInfo::hasQuit() {
  return quitFlag;
}

void StreamInfo::setRegistered(bool isRegistered) {
  registered.store(isRegistered, std::memory_order_release);
}

bool StreamInfo::isRegistered() {
  return registered.load(std::memory_order_acquire);
}

uint32_t StreamInfo::getStreamId() {
  return streamId;
}

bool StreamInfo::isCleanupInProgres() {
  return cleanupInProgress;
}

size_t StreamInfo::getStreamCacheSize() {
  // Kept beside the list, so that the sender's count before every item takes no lock.
  return itemCount.load(std::memory_order_relaxed);
}

size_t StreamInfo::getUncommittedCount() {
  return getStreamCacheSize();
}

int64_t StreamInfo::getLastCommitTime() {
  return lastCommitTime;
}

void StreamInfo::setLastCommitTime(long t) {
  lastCommitTime = t;
}

uint32_t StreamInfo::getMaxUncommittedCount() {
  return maxUncommittedCount;
}

void StreamInfo::setMaxUncommittedCount(uint32_t limit) {
  maxUncommittedCount = limit;
}

int64_t StreamInfo::getPreviousSequenceNumber() {
  KaCriticalSectionLock lock(&itemListLock);
  return previousSequenceNumber;
}

void StreamInfo::recordItemTime() {
  ++counts.itemsRecorded;
  itemTimes.push_back(SteadyMicros());
}

void StreamInfo::finalizeBackTime() {
  if (itemTimes.empty() || flight.load(std::memory_order_acquire) != kNoFlight) return;
  // An earlier item's landing is older than the back item's recording, and changes nothing.
  itemTimes.back() = std::max(itemTimes.back(), landedAtUs.load(std::memory_order_relaxed));
}

void StreamInfo::setJob(int64_t jobId, int32_t appId) {
  KaCriticalSectionLock lock(&itemListLock);
  counts.jobId = jobId;
  counts.appId = appId;
}

void StreamInfo::noteBytesSent(uint64_t bytes) {
  bytesSent.fetch_add(bytes, std::memory_order_relaxed);
}

void StreamInfo::noteForcedCommit(bool limitReached) {
  (limitReached ? forcedCommitsLimit : forcedCommitsInterval)
      .fetch_add(1, std::memory_order_relaxed);
}

StreamStatistics StreamInfo::statistics() {
  StreamStatistics figures;
  int64_t oldest = 0;
  {
    KaCriticalSectionLock lock(&itemListLock);
    finalizeBackTime();
    figures = counts;
    figures.uncommitted = uncommittedItems.size();
    if (!itemTimes.empty()) oldest = itemTimes.front();
  }
  figures.aFileId = streamId;
  figures.jobEnded = hasQuit();
  figures.registered = isRegistered();
  figures.bytesSent = bytesSent.load(std::memory_order_relaxed);
  figures.forcedCommitsLimit = forcedCommitsLimit.load(std::memory_order_relaxed);
  figures.forcedCommitsInterval = forcedCommitsInterval.load(std::memory_order_relaxed);
  if (oldest != 0) {
    figures.oldestUncommittedAgeSeconds =
        static_cast<double>(std::max<int64_t>(0, SteadyMicros() - oldest)) / 1e6;
  }
  return figures;
}

uint32_t GetMaxUncommittedCount() {
  KAPlatformInfo settings;
  unsigned int limit = 0;
  if (settings.getNumber("Tarn", "nMaxUncommittedExtents", &limit) != 0) {
    OBJSTORE_LOG(1, "INFO: Setting [Tarn\\nMaxUncommittedExtents] is [%u].", limit);
    return limit;
  }
  OBJSTORE_LOG(1,
               "INFO: Setting [Tarn\\nMaxUncommittedExtents] is not set. Using the default [%u].",
               kDefaultMaxUncommittedCount);
  return kDefaultMaxUncommittedCount;
}

bool DropStreamIfDone(const StreamInfoPtr& record) {
  if (!record->hasQuit() || record->getStreamCacheSize() != 0) return false;
  const uint32_t id = record->getStreamId();
  std::map<uint32_t, StreamInfoPtr>::iterator it = gStreams.find(id);
  // A later job may have registered its own record under the id.
  if (it == gStreams.end() || it->second != record) return false;
  record->setRegistered(false);
  RetireStreamStatistics(*record);
  gStreams.erase(it);  // `record` may have been this very entry: not used from here on
  OBJSTORE_LOG(2, "INFO: stream [%u] of an ended job holds no item and leaves the registry", id);
  return true;
}

}  // namespace ObjectStore

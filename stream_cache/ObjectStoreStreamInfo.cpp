#include "ObjectStoreStreamInfo.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <utility>

#include "KAPlatformInfo.h"
#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "ObjectStoreStatic.h"
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
  {
    KaCriticalSectionLock lock(&itemListLock);
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
  uncommittedItems.push_back(std::move(item));
  itemCount.store(uncommittedItems.size(), std::memory_order_relaxed);
  flight.store(kInFlight, std::memory_order_relaxed);
}

bool StreamInfo::takeCoveredItem(std::list<std::string>& committedItems) {
  // Usually no commit came meanwhile: end the flight without the item lock. A commit that looks
  // at the item later finds it landed and releases it like any other.
  int expected = kInFlight;
  if (flight.compare_exchange_strong(expected, kNoFlight, std::memory_order_acq_rel)) return false;
  KaCriticalSectionLock lock(&itemListLock);
  if (flight.load(std::memory_order_relaxed) != kCovered) return false;
  flight.store(kNoFlight, std::memory_order_relaxed);
  // The commit that covered the item released everything before it, and nothing was added
  // since: the item is the whole list.
  const size_t count = uncommittedItems.size();
  moveFront(static_cast<int64_t>(count), committedItems);
  frontSequenceNumber = std::max(SaturatingAdd(frontSequenceNumber, count), previousSequenceNumber);
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
  while (in >> item) uncommittedItems.push_back(item);
  itemCount.store(uncommittedItems.size(), std::memory_order_relaxed);
  return true;
}

// The sequence number counts every item the pipeline committed on this stream. Items handed back
// by removeAll were counted by frontSequenceNumber, so a number that only covers them releases
// nothing: the items added since are not yet committed.
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
      OBJSTORE_LOG(-1,
                   "ERROR: Backup storage agent sent lower sequence number [%lld] than the "
                   "previous [%lld].",
                   static_cast<long long>(received),
                   static_cast<long long>(previousSequenceNumber));
      return false;
    }
    previousSequenceNumber = received;
    releaseFront(received, committedItems);
    emptied = uncommittedItems.empty();
  }
  if (emptied) callbackEvent.set();
  return true;
}

void StreamInfo::releaseFront(int64_t received, std::list<std::string>& committedItems) {
  const int64_t wanted = std::max<int64_t>(0, received - frontSequenceNumber);
  const int64_t available = static_cast<int64_t>(uncommittedItems.size());
  if (wanted > available) {
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
  gStreams.erase(it);  // `record` may have been this very entry: not used from here on
  OBJSTORE_LOG(2, "INFO: stream [%u] of an ended job holds no item and leaves the registry", id);
  return true;
}

}  // namespace ObjectStore

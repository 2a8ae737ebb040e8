// StreamInfo: per pipeline stream, the ordered list of items sent but not yet committed, and the
// reconciliation of the pipeline's commit sequence numbers with that list.
//
// Records are registered in gStreams (under gStreamLock) by aFile ID. The library's lock order is
// written down once, in ObjStoreBackupInterface.h; itemListLock is always the innermost lock.
//
// An item's life in its stream's record; every item ends exactly once, committed or handed back:
//   recorded     sendItem (SendItem.cpp, sendOnStream) appends it with addItemInFlight under the
//                stream's sendLock, before any byte of it is sent.
//   in flight    from then until its end-of-file record has been sent. A commit notification
//                (getCommitGUIDList) releases only the items before it.
//   covered      a commit counted its end-of-file while the sender was still in sendEof: the record
//                remembers it (holdInFlight), and the sender, once sendEof succeeded, takes it with
//                takeCoveredItem and reports it itself (BackupInterface::reportIfCovered).
//   committed    a commit notification (ChunkCommitHandler::commitUpdate), a commit kept while no
//                callback was set and reported by setCallBack (BackupInterface::reportKeptCommits),
//                or the sender of a covered item moves it out; all three go through ReportCommits
//                (StreamRegistry.h), which also drops the emptied record of an ended job.
//   handed back  a failed or throwing send (BackupInterface::handBack) or an end whose commit wait
//                ran out (BackupInterface::handBackTimedOut) moves every item of the record into
//                the host's failed list with takeAllItems.
// Without a callback, a commit's number is kept (noteUnreportedCommit) and its items stay
// recorded until a callback is set or the end hands them back.
#ifndef OBJSTORE_STREAM_CACHE_OBJECTSTORESTREAMINFO_H_
#define OBJSTORE_STREAM_CACHE_OBJECTSTORESTREAMINFO_H_

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <ctime>
#include <deque>
#include <list>
#include <map>
#include <string>

#include "KaCriticalSection.h"
#include "KaEvent.h"
#include "ObjStoreExport.h"
#include "StreamStatistics.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

class OBJSTORE_API StreamInfo {
 public:
  // Touches no file. The uncommitted limit is read from the settings once, here.
  StreamInfo(uint32_t streamId, std::string streamDir);
  // Loads the items of streamDir/"FILELIST" (stream id 0). Kept for hosts; the library does
  // not call it.
  explicit StreamInfo(std::string streamDir);
  ~StreamInfo();
  StreamInfo(const StreamInfo&) = delete;
  StreamInfo& operator=(const StreamInfo&) = delete;

  // Creates the stream directory (an existing one is fine). False, with a log record, on failure.
  bool init();

  // The file-list calls below (addFilePath, removeAll, getAllItem, SaveToDisk, loadFromDisk) are
  // kept for hosts; the library does not call them: its sender records items with
  // addItemInFlight, hands them back with takeAllItems, and keeps no list on disk.
  //
  // Appends `item` at the back. Always true: the list lives in memory only.
  bool addFilePath(std::string item) EXCLUDES(itemListLock);
  // Empties the list. The removed items count as covered by the pipeline's sequence numbers, so
  // that a later commit never reports items added after them. Signals callbackEvent.
  bool removeAll() EXCLUDES(itemListLock);
  // Appends a copy of every item, oldest first, to `out`; the list is unchanged.
  void getAllItem(std::list<std::string>& out) EXCLUDES(itemListLock);
  // getAllItem followed by removeAll in one critical section: every item moves, oldest first, to
  // the back of `out`, and none can be added or committed in between (so none is lost or
  // reported twice). An item in flight leaves with the others. Signals callbackEvent.
  void takeAllItems(std::list<std::string>& out) EXCLUDES(itemListLock);
  // The same, counting the items as handed back for `cause` (the one above: a failed send).
  void takeAllItems(std::list<std::string>& out, HandBackCause cause) EXCLUDES(itemListLock);
  // Writes nothing and returns true.
  bool SaveToDisk();
  // Appends the white-space-separated items of streamDir/"FILELIST", in file order. Always true;
  // a missing file leaves the list as it is, with a warning.
  bool loadFromDisk() EXCLUDES(itemListLock);

  // The item sender's side of one item, all under sendLock:
  //  - addItemInFlight appends the item and marks it as in flight: its end-of-file record is
  //    about to be sent, and until that send has succeeded the item must not be reported
  //    committed, since a failed end-of-file hands it back instead. A commit that covers it in
  //    the meantime releases only the items before it and remembers that it was covered.
  //  - takeCoveredItem, after a successful end-of-file, ends the flight. When a commit already
  //    covered the item it moves to the back of `committedItems` and the result is true: the
  //    caller reports it, as the commit would have. Otherwise a later commit releases it. With
  //    `report` false (nobody to report to), a covered item stays as an ordinary uncommitted
  //    item and the number that covered it is kept as a commit nobody heard of
  //    (noteUnreportedCommit): the next callback set, or the next commit, releases it.
  //  - landUncovered is its first half: it ends a flight that no commit covered, without the
  //    item lock, and returns true; false means a commit did, and takeCoveredItem must follow.
  //  - after a failed send, takeAllItems hands the item back with the rest of the stream.
  void addItemInFlight(std::string item) REQUIRES(sendLock) EXCLUDES(itemListLock);
  bool landUncovered() REQUIRES(sendLock);
  bool takeCoveredItem(std::list<std::string>& committedItems, bool report = true)
      REQUIRES(sendLock) EXCLUDES(itemListLock);

  // Moves the items that `sequenceNumber` (decimal text: items the pipeline has committed on this
  // stream in all) newly covers to the back of `committedItems`, oldest first. False when the
  // number is lower than the previous one (nothing moves). An item in flight stays (see above).
  // Signals callbackEvent when it leaves the list empty. Costs O(items released). The caller
  // holds gStreamLock, which keeps the reports of all streams in order.
  bool getCommitGUIDList(std::string& sequenceNumber, std::list<std::string>& committedItems)
      EXCLUDES(itemListLock);

  // A commit that arrived while its controller had no callback: the highest such number is kept
  // (the items stay uncommitted) until takeUnreportedCommit hands it to a callback set later.
  void noteUnreportedCommit(const std::string& sequenceNumber) EXCLUDES(itemListLock);
  // The number kept, if any, and forgets it.
  bool takeUnreportedCommit(std::string* sequenceNumber) EXCLUDES(itemListLock);

  // Marks the record's job as ended: once the record holds no uncommitted item, it leaves
  // gStreams (StreamRegistry.h).
  void setQuitFlag();
  bool hasQuit();
  // Whether gStreams holds this record under its id: set when a controller registers it, cleared
  // when it leaves the registry or another record replaces it. A sender that holds the record
  // checks it instead of looking the id up.
  void setRegistered(bool registered);
  bool isRegistered();
  uint32_t getStreamId();
  // Always false: nothing starts a cleanup any more. endBackup still asks, and would wait
  // (BackupOptions::cleanupPollMs) while it were true. Kept for hosts.
  bool isCleanupInProgres();
  size_t getStreamCacheSize() EXCLUDES(itemListLock);
  size_t getUncommittedCount() EXCLUDES(itemListLock);
  // The time of the stream's last forced commit, in seconds since the epoch; 0 before the first.
  int64_t getLastCommitTime() REQUIRES(sendLock);
  void setLastCommitTime(long t) REQUIRES(sendLock);
  uint32_t getMaxUncommittedCount();

  // Statistics. The job the record belongs to: before the record is shared.
  void setJob(int64_t jobId, int32_t appId);
  // Counted by the sender: bytes of sections the pipeline took, and forced commits.
  void noteBytesSent(uint64_t bytes);
  void noteForcedCommit(bool limitReached);
  // The record's figures now, consistent with each other (StreamStatistics.h). Holds the item
  // lock for a copy of the counters only. Thread-safe, also from the commit callback.
  StreamStatistics statistics() EXCLUDES(itemListLock);
  // Replaces the limit read from the settings. Before the record is shared.
  void setMaxUncommittedCount(uint32_t limit);
  int64_t getPreviousSequenceNumber() EXCLUDES(itemListLock);

  // Held by the item sender while it checks, records and sends one item on this stream, up to
  // and including its end-of-file record. Never taken by commit reconciliation.
  KaCriticalSection sendLock;

 private:
  // Moves the items that `received` newly covers from the front of the list to `committedItems`.
  void releaseFront(int64_t received, std::list<std::string>& committedItems)
      REQUIRES(itemListLock);
  // True when the back of the list is in flight and, from now on, covered by a commit.
  bool holdInFlight() REQUIRES(itemListLock);
  // Moves the first `count` items to the back of `committedItems`.
  void moveFront(int64_t count, std::list<std::string>& committedItems) REQUIRES(itemListLock);
  // Appends the time of an item just recorded.
  void recordItemTime() REQUIRES(itemListLock);
  // Once the back item's end-of-file has gone through, its time is that of the end-of-file.
  void finalizeBackTime() REQUIRES(itemListLock);

  // Aligns the whole object to a cache line: the sending and committing threads write a
  // stream's fields for every item, and an unrelated object sharing a line would slow them both.
  alignas(64) uint32_t streamId;
  std::string streamDir;
  KaCriticalSection itemListLock;
  std::list<std::string> uncommittedItems GUARDED_BY(itemListLock);
  std::atomic<bool> quitFlag;
  std::atomic<bool> registered{false};
  bool cleanupInProgress;
  int64_t lastCommitTime GUARDED_BY(sendLock);
  int64_t previousSequenceNumber GUARDED_BY(itemListLock);
  int64_t unreportedSequenceNumber GUARDED_BY(itemListLock) = -1;  // -1: none
  // The sequence number that covers the item just before the front of the list: it moves with
  // every item committed and every item handed back.
  int64_t frontSequenceNumber GUARDED_BY(itemListLock);
  // Whether the back of the list is in flight (its end-of-file record is being sent), and
  // whether a commit has covered it meanwhile. Changed under itemListLock, except that the
  // sender ends an uncovered flight with a compare-and-exchange alone.
  enum Flight { kNoFlight, kInFlight, kCovered };
  std::atomic<int> flight;
  // uncommittedItems.size(), written under itemListLock, read without it.
  std::atomic<size_t> itemCount{0};
  uint32_t maxUncommittedCount;

  // Statistics: the counters, moved with the items under itemListLock; per uncommitted item the
  // steady-clock microseconds of its end-of-file record (of its recording, until the sender
  // says its end-of-file went through, in landedAtUs).
  StreamStatistics counts GUARDED_BY(itemListLock);
  std::deque<int64_t> itemTimes GUARDED_BY(itemListLock);
  std::atomic<int64_t> landedAtUs{0};
  std::atomic<uint64_t> bytesSent{0};
  std::atomic<uint64_t> forcedCommitsLimit{0};
  std::atomic<uint64_t> forcedCommitsInterval{0};

 public:
  // Signalled when the list becomes empty; endBackup waits on it.
  KaEvent callbackEvent;
};

typedef boost::shared_ptr<StreamInfo> StreamInfoPtr;

// The stream registry, keyed by aFile ID. A controller registers a record per stream when its job
// starts; the record leaves once the job has ended and the record holds no uncommitted item.
OBJSTORE_API extern KaCriticalSection gStreamLock;
OBJSTORE_API extern std::map<uint32_t, StreamInfoPtr> gStreams GUARDED_BY(gStreamLock);

// The uncommitted-item limit per stream: setting "Tarn" / "nMaxUncommittedExtents", else 1000.
OBJSTORE_API uint32_t GetMaxUncommittedCount();

}  // namespace ObjectStore

#endif  // OBJSTORE_STREAM_CACHE_OBJECTSTORESTREAMINFO_H_

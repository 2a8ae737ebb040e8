// StreamInfo: per pipeline stream, the ordered list of items sent but not yet committed, and the
// reconciliation of the pipeline's commit sequence numbers with that list.
//
// Records are registered in gStreams (under gStreamLock) by aFile ID. Lock order: gStreamLock or
// sendLock, then commitFence, then the controller's failedListLock, then itemListLock, which is
// always innermost.
#ifndef OBJSTORE_STREAM_CACHE_OBJECTSTORESTREAMINFO_H_
#define OBJSTORE_STREAM_CACHE_OBJECTSTORESTREAMINFO_H_

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <ctime>
#include <list>
#include <map>
#include <string>

#include "KaCriticalSection.h"
#include "KaEvent.h"
#include "ObjStoreExport.h"

namespace ObjectStore {

class OBJSTORE_API StreamInfo {
 public:
  // Touches no file. The uncommitted limit is read from the settings once, here.
  StreamInfo(uint32_t streamId, std::string streamDir);
  // Loads the items of streamDir/"FILELIST" (stream id 0).
  explicit StreamInfo(std::string streamDir);
  ~StreamInfo();
  StreamInfo(const StreamInfo&) = delete;
  StreamInfo& operator=(const StreamInfo&) = delete;

  // Creates the stream directory (an existing one is fine). False, with a log record, on failure.
  bool init();

  // Appends `item` at the back. Always true: the list lives in memory only.
  bool addFilePath(std::string item);
  // Empties the list. The removed items count as covered by the pipeline's sequence numbers, so
  // that a later commit never reports items added after them. Signals callbackEvent.
  bool removeAll();
  // Appends a copy of every item, oldest first, to `out`; the list is unchanged.
  void getAllItem(std::list<std::string>& out);
  // getAllItem followed by removeAll in one critical section: every item moves, oldest first, to
  // the back of `out`, and none can be added or committed in between (so none is lost or
  // reported twice). Signals callbackEvent.
  void takeAllItems(std::list<std::string>& out);
  // Writes nothing and returns true.
  bool SaveToDisk();
  // Appends the white-space-separated items of streamDir/"FILELIST", in file order. Always true;
  // a missing file leaves the list as it is, with a warning.
  bool loadFromDisk();

  // Moves the items that `sequenceNumber` (decimal text: items the pipeline has committed on this
  // stream in all) newly covers to the back of `committedItems`, oldest first. False when the
  // number is lower than the previous one (nothing moves). Signals callbackEvent when it leaves
  // the list empty. Costs O(items released). The caller holds gStreamLock.
  bool getCommitGUIDList(std::string& sequenceNumber, std::list<std::string>& committedItems);

  void setQuitFlag();
  uint32_t getStreamId();
  bool isCleanupInProgres();
  size_t getStreamCacheSize();
  size_t getUncommittedCount();
  int64_t getLastCommitTime();
  void setLastCommitTime(long t);
  uint32_t getMaxUncommittedCount();
  int64_t getPreviousSequenceNumber();

 private:
  // Moves the items that `received` newly covers from the front of the list to `committedItems`.
  // The caller holds itemListLock.
  void releaseFront(int64_t received, std::list<std::string>& committedItems);

  // Aligns the whole object to a cache line: the sending and committing threads write a
  // stream's fields for every item, and an unrelated object sharing a line would slow them both.
  alignas(64) uint32_t streamId;
  std::string streamDir;
  std::list<std::string> uncommittedItems;
  bool quitFlag;
  bool cleanupInProgress;
  KaCriticalSection itemListLock;
  int64_t lastCommitTime;
  int64_t previousSequenceNumber;
  // The sequence number that covers the item just before the front of the list: it moves with
  // every item committed and every item handed back by removeAll.
  int64_t frontSequenceNumber;
  uint32_t maxUncommittedCount;

 public:
  // Signalled when the list becomes empty; endBackup waits on it.
  KaEvent callbackEvent;
  // Held by the item sender while it checks, records and sends one item on this stream.
  KaCriticalSection sendLock;
  // Held by commit reconciliation, and by the item sender from an item's end-of-file record until
  // a failed item has been handed back. The pipeline counts failed items too, so a commit that
  // counts one must wait until it has left the list: it is never reported committed.
  KaCriticalSection commitFence;
};

typedef boost::shared_ptr<StreamInfo> StreamInfoPtr;

// The stream registry, keyed by aFile ID. Entries are replaced, never removed.
OBJSTORE_API extern std::map<uint32_t, StreamInfoPtr> gStreams;
OBJSTORE_API extern KaCriticalSection gStreamLock;

// The uncommitted-item limit per stream: setting "Tarn" / "nMaxUncommittedExtents", else 1000.
OBJSTORE_API uint32_t GetMaxUncommittedCount();

}  // namespace ObjectStore

#endif  // OBJSTORE_STREAM_CACHE_OBJECTSTORESTREAMINFO_H_

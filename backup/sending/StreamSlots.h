// StreamSlots: the streams of one job as sendItem uses them, internal to the library.
//
// Per stream: its handler, its stream cache record and how many sendItem calls hold it at this
// moment. The controller fills the slots while it starts its job, on one thread, before any
// other thread can see it; after that only the counts change, so that a sending thread finds
// its stream without taking a lock that every other sending thread needs too. Closing the slots
// at the end of the backup makes later takes fail and lets the end wait for the takes already
// made; the slots themselves stay until the controller goes, so a late reader never finds them
// half torn down.
#ifndef OBJSTORE_BACKUP_STREAMSLOTS_H_
#define OBJSTORE_BACKUP_STREAMSLOTS_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "CStreamHandler.h"
#include "ObjectStoreStreamInfo.h"

namespace ObjectStore {

struct StreamSlot {
  StreamSlot(OBJECTOPSAPI::CStreamHandlerPtr h, StreamInfoPtr s)
      : handler(std::move(h)), stream(std::move(s)) {}
  const OBJECTOPSAPI::CStreamHandlerPtr handler;
  const StreamInfoPtr stream;
  std::atomic<int> users{0};  // sendItem calls that hold the handler now
  bool released = false;      // given back to the pipeline; only endBackup touches it
};

class StreamSlots {
 public:
  StreamSlots() = default;
  StreamSlots(const StreamSlots&) = delete;
  StreamSlots& operator=(const StreamSlots&) = delete;

  // Adds a stream. Only while the controller starts, before other threads can see it.
  void add(const OBJECTOPSAPI::CStreamHandlerPtr& handler, const StreamInfoPtr& stream);

  // The slot at `checksum`, taken as a large unsigned number, modulo the number of streams,
  // with its count raised; `index` receives its index. Null once closed (or with no stream):
  // a take that races with close either fails or is waited for by closeAndDrain. Thread-safe.
  StreamSlot* take(int checksum, size_t* index);
  // Gives back a slot that take returned. Thread-safe.
  void give(StreamSlot* slot);

  // Streams of the job; 0 once closed.
  size_t size() const;
  // The slots that no sendItem holds, in stream order; none once closed.
  std::vector<const StreamSlot*> freeSlots() const;
  // The handler at `index`; null once closed or out of range.
  OBJECTOPSAPI::CStreamHandlerPtr handlerAt(size_t index) const;
  // Later takes fail; then waits until every slot taken before is given back, or until
  // `deadline`. True when none is held any more. Thread-safe; closing twice is harmless.
  bool closeAndDrain(std::chrono::steady_clock::time_point deadline);
  // Every slot in stream order, held or not, closed or not. For the end of the backup.
  std::vector<StreamSlot*> all();

 private:
  bool anyHeld() const;

  std::deque<StreamSlot> slots_;  // a deque: the slots never move
  std::atomic<bool> closed_{false};
  // Wakes closeAndDrain when a slot is given back after the close.
  std::mutex drainMutex_;
  std::condition_variable drained_;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_STREAMSLOTS_H_

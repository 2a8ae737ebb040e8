// StoreWalker: reads the host's objects back from the backup store, through the pipeline's
// reader, with the memory of one object.
//
// A job may have several runs (a run that died, then the run that finished the job), and an
// object may have several copies in them (sent again after a failure or a restart). Copies are
// visited in the order they were stored, runs oldest first, so that the last copy visited for
// an object is its latest committed copy: the one that wins.
#ifndef OBJSTORE_HOST_STOREWALKER_H_
#define OBJSTORE_HOST_STOREWALKER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ObjectMetadata.h"
#include "ScopedInterrupt.h"
#include "StoreStreamReader.h"

namespace objstore_host {

// One committed, completely sent copy of an object.
struct StoredCopy {
  std::string guid;  // the item's name: the first identifier of the header's h_filename
  ObjectMetadata metadata;
  const OBJECTOPSAPI::StoreItem* item = nullptr;  // its sections; data sections in order
  std::string file;                               // the data file that holds it
  int64_t jobId = 0;                              // the job whose run stored it
  // Its metadata is another writer's (not this program's format): the copy cannot be restored,
  // but its records, header and sizes are proven all the same.
  bool foreignMetadata = false;
};

// Where a copy lies in the store: its data file and item number.
typedef std::pair<std::string, uint64_t> CopyPlace;

struct WalkStats {
  uint64_t runs = 0;
  uint64_t copies = 0;             // committed copies visited
  uint64_t uncommittedCopies = 0;  // sent, but their commit never came
  uint64_t failedCopies = 0;       // ended with a failure flag
  uint64_t incompleteStreams = 0;  // ended inside an item (their process died)
  uint64_t damagedCopies = 0;      // a record fails its checksum
  uint64_t foreignCopies = 0;      // intact, with metadata in another writer's format
  // Not damage: the first copies whose metadata this program cannot read, and the files a
  // killed writer left (the pipeline's next job removes those), one line each.
  std::vector<std::string> foreignLines;
  std::vector<std::string> leftovers;
  // Damage in the store (each line names the file, and the object where one is concerned) and
  // copies that are not objects of this program.
  std::vector<std::string> problems;
};

class StoreWalker {
 public:
  explicit StoreWalker(const std::string& storeDir);

  // From now on, a walk stops at the next item once `*flag` is true (null: never). The flag may
  // be set by another thread or a signal handler.
  void stopWhen(const std::atomic<bool>* flag) { stop_ = flag; }

  // Visits the intact committed copies of job `jobId`, or of every job when `allJobs` (runs
  // ordered by start time). With `readData` false the copies carry no data bytes, and damage to
  // data goes unnoticed. False when the store cannot be listed; the reason is in
  // `stats->problems`.
  bool walk(int64_t jobId, bool allJobs, const std::function<void(const StoredCopy&)>& visit,
            WalkStats* stats, bool readData = true) const;

  // The copy that `item` holds; false, with the reason in `error`, when it is not an object of
  // this program (no header or metadata, unreadable metadata, data not matching its size).
  // Metadata in another writer's format is no damage: false with copy->foreignMetadata set.
  // Works on items read without their data too.
  static bool ReadCopy(const OBJECTOPSAPI::StoreItem& item, StoredCopy* copy, std::string* error);

 private:
  void walkStream(int64_t jobId, const OBJECTOPSAPI::StoreStreamInfo& stream,
                  const std::function<void(const StoredCopy&)>& visit, WalkStats* stats,
                  bool readData) const;

  bool stopped() const { return stop_ != nullptr && stop_->load(); }

  std::string storeDir_;
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_STOREWALKER_H_

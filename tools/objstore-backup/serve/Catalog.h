// Catalog: the service's record of every object version, in an SQLite database (WAL mode).
//
// Writes are queued and applied by one writer thread, many to a transaction, so that thousands
// of PUTs a second cost a few commits; a caller that needs its change on disk waits for the
// ticket the change returned. Reads go through a separate connection and see every transaction
// committed before they start. Nothing is held in memory per key.
#ifndef OBJSTORE_HOST_SERVE_CATALOG_H_
#define OBJSTORE_HOST_SERVE_CATALOG_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CatalogRow.h"

struct sqlite3;
struct sqlite3_stmt;

namespace objstore_host {

class Catalog {
 public:
  Catalog();
  // Applies what is queued, then closes the database.
  ~Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // Opens (creating when missing) the database `path` and starts the writer. False, with the
  // reason in `error`, when it cannot be opened or is not a catalog. Call once.
  bool open(const std::string& path, std::string* error);

  // Queue changes; each returns the ticket to wait for. Thread-safe.
  uint64_t insert(const CatalogRow& row);
  uint64_t markInJob(const std::string& id, int64_t job, int stream);
  uint64_t markCommitted(const std::string& id, double when);
  uint64_t markHandedBack(const std::string& id, const std::string& reason);
  uint64_t markLost(const std::string& id);

  // Blocks until the change with `ticket` is committed to the database. False when the writer
  // failed (the reason in `error`, when given); the failure is sticky. Thread-safe.
  bool wait(uint64_t ticket, std::string* error = nullptr);

  // The latest version of `key`; false when the catalog has none. Thread-safe.
  bool latest(const std::string& key, CatalogRow* row);
  // The version whose segment is `id`; false when there is none. Thread-safe.
  bool byId(const std::string& id, CatalogRow* row);
  // Calls `visit` with every version not yet committed or lost, in version order. Thread-safe,
  // but changes queued meanwhile may or may not be seen.
  void forEachWaiting(const std::function<void(const CatalogRow&)>& visit);
  // The highest version recorded; 0 when empty.
  uint64_t maxVersion();

  // A job id never handed out before by this catalog and at least `atLeast`; recorded on disk
  // before it returns. 0 when it cannot be recorded. Call from one thread at a time.
  int64_t takeJobId(int64_t atLeast);

  // Makes the writer fail as a full or broken disk would: every later wait returns false with
  // `reason`. For tests of what depends on a change being recorded.
  void failForTesting(const std::string& reason);

  // Transactions committed so far, and changes they carried.
  uint64_t transactions() const;

 private:
  struct Change;
  uint64_t enqueue(Change change);
  void writeLoop();
  bool apply(const Change& change, std::string* error);
  bool execute(sqlite3* db, const std::string& sql, std::string* error);
  int64_t readSetting(const std::string& name);

  sqlite3* writer_ = nullptr;  // used by the writer thread only (and open)
  // The writer's statements, one per kind of change, prepared once: used by the writer thread
  // only, finalized before the database closes.
  std::vector<sqlite3_stmt*> writes_;
  sqlite3* reader_ = nullptr;  // guarded by readMutex_
  std::mutex readMutex_;

  mutable std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::vector<Change> queue_;  // guarded by mutex_
  uint64_t queued_ = 0;        // guarded by mutex_: tickets handed out
  uint64_t written_ = 0;       // guarded by mutex_: tickets committed
  uint64_t transactions_ = 0;  // guarded by mutex_
  std::string error_;          // guarded by mutex_: the writer's sticky failure
  bool stopping_ = false;      // guarded by mutex_
  std::thread thread_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_CATALOG_H_

#include "Catalog.h"

#include <sqlite3.h>

#include <utility>

namespace objstore_host {

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS objects("
    " version INTEGER PRIMARY KEY, key TEXT NOT NULL, id TEXT NOT NULL, size INTEGER NOT NULL,"
    " state TEXT NOT NULL, job INTEGER NOT NULL DEFAULT 0, stream INTEGER NOT NULL DEFAULT -1,"
    " put_time REAL NOT NULL, committed_time REAL NOT NULL DEFAULT 0,"
    " hand_backs INTEGER NOT NULL DEFAULT 0, reason TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX IF NOT EXISTS objects_by_key ON objects(key, version);"
    "CREATE UNIQUE INDEX IF NOT EXISTS objects_by_id ON objects(id);"
    // Only versions still waiting are indexed by state: committed ones leave the index, which
    // then stays as small as the cache instead of growing with every object ever stored.
    "DROP INDEX IF EXISTS objects_by_state;"
    "CREATE INDEX IF NOT EXISTS objects_waiting ON objects(state)"
    " WHERE state NOT IN ('committed', 'lost');"
    "CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value INTEGER NOT NULL);";

// The writer's statements, indexed by Catalog::Change::Kind.
const char* const kWriteSql[] = {
    "INSERT OR REPLACE INTO objects(key, version, id, size, state, job, stream, put_time,"
    " committed_time, hand_backs, reason) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)",
    "UPDATE objects SET state='in_job', job=?2, stream=?3 WHERE id=?1 AND state!='committed'",
    "UPDATE objects SET state='committed', committed_time=?2 WHERE id=?1",
    "UPDATE objects SET state='handed_back', hand_backs=hand_backs+1, reason=?2 WHERE id=?1"
    " AND state!='committed'",
    "UPDATE objects SET state='lost' WHERE id=?1 AND state!='committed'",
    "INSERT OR REPLACE INTO settings(name, value) VALUES(?1, ?2)"};

const char kColumns[] =
    "key, version, id, size, state, job, stream, put_time, committed_time, hand_backs, reason";

// Finalizes a statement when it leaves scope.
struct Statement {
  sqlite3_stmt* stmt = nullptr;
  Statement(sqlite3* db, const std::string& sql) {
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
};

void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* stmt, int index) {
  const unsigned char* text = sqlite3_column_text(stmt, index);
  return text == nullptr ? std::string()
                         : std::string(reinterpret_cast<const char*>(text),
                                       static_cast<size_t>(sqlite3_column_bytes(stmt, index)));
}

CatalogRow ReadRow(sqlite3_stmt* stmt) {
  CatalogRow row;
  row.key = ColumnText(stmt, 0);
  row.version = static_cast<uint64_t>(sqlite3_column_int64(stmt, 1));
  row.id = ColumnText(stmt, 2);
  row.size = static_cast<uint64_t>(sqlite3_column_int64(stmt, 3));
  ParseObjectState(ColumnText(stmt, 4), &row.state);
  row.job = sqlite3_column_int64(stmt, 5);
  row.stream = sqlite3_column_int(stmt, 6);
  row.putTime = sqlite3_column_double(stmt, 7);
  row.committedTime = sqlite3_column_double(stmt, 8);
  row.handBacks = static_cast<uint32_t>(sqlite3_column_int64(stmt, 9));
  row.reason = ColumnText(stmt, 10);
  return row;
}

bool OpenDatabase(const std::string& path, sqlite3** db, std::string* error) {
  if (sqlite3_open_v2(path.c_str(), db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    *error = "cannot open the catalog [" + path +
             "]: " + (*db == nullptr ? "out of memory" : sqlite3_errmsg(*db));
    return false;
  }
  sqlite3_busy_timeout(*db, 10000);
  return true;
}

}  // namespace

const char* ObjectStateName(ObjectState state) {
  switch (state) {
    case ObjectState::kCached:
      return "cached";
    case ObjectState::kInJob:
      return "in_job";
    case ObjectState::kCommitted:
      return "committed";
    case ObjectState::kHandedBack:
      return "handed_back";
    case ObjectState::kLost:
      return "lost";
  }
  return "unknown";
}

bool ParseObjectState(const std::string& name, ObjectState* state) {
  for (ObjectState s : {ObjectState::kCached, ObjectState::kInJob, ObjectState::kCommitted,
                        ObjectState::kHandedBack, ObjectState::kLost}) {
    if (name == ObjectStateName(s)) {
      *state = s;
      return true;
    }
  }
  return false;
}

struct Catalog::Change {
  enum Kind { kInsert, kInJob, kCommitted, kHandedBack, kLost, kSetting } kind;
  CatalogRow row;  // the row to insert; for the others, row.id names the version
  std::string name;
  int64_t value = 0;
};

Catalog::Catalog() = default;

Catalog::~Catalog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (sqlite3_stmt* statement : writes_) sqlite3_finalize(statement);
  sqlite3_close(reader_);
  sqlite3_close(writer_);
}

bool Catalog::open(const std::string& path, std::string* error) {
  if (!OpenDatabase(path, &writer_, error)) return false;
  // NORMAL in WAL mode: a killed process loses nothing committed; a machine crash may lose the
  // last transactions, which the start's reconciliation with the disk cache restores.
  if (!execute(writer_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error) ||
      !execute(writer_, kSchema, error)) {
    *error = "the catalog [" + path + "]: " + *error;
    return false;
  }
  for (const char* sql : kWriteSql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(writer_, sql, -1, &statement, nullptr) != SQLITE_OK) {
      *error = "the catalog [" + path + "]: " + sqlite3_errmsg(writer_);
      return false;
    }
    writes_.push_back(statement);
  }
  if (!OpenDatabase(path, &reader_, error)) return false;
  thread_ = std::thread(&Catalog::writeLoop, this);
  return true;
}

bool Catalog::execute(sqlite3* db, const std::string& sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message != nullptr ? message : "unknown SQLite error";
  sqlite3_free(message);
  return false;
}

uint64_t Catalog::enqueue(Change change) {
  uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(change));
    ticket = ++queued_;
  }
  work_.notify_one();
  return ticket;
}

uint64_t Catalog::insert(const CatalogRow& row) {
  Change change{Change::kInsert, row, "", 0};
  return enqueue(std::move(change));
}

uint64_t Catalog::markInJob(const std::string& id, int64_t job, int stream) {
  Change change{Change::kInJob, CatalogRow(), "", 0};
  change.row.id = id;
  change.row.job = job;
  change.row.stream = stream;
  return enqueue(std::move(change));
}

uint64_t Catalog::markCommitted(const std::string& id, double when) {
  Change change{Change::kCommitted, CatalogRow(), "", 0};
  change.row.id = id;
  change.row.committedTime = when;
  return enqueue(std::move(change));
}

uint64_t Catalog::markHandedBack(const std::string& id, const std::string& reason) {
  Change change{Change::kHandedBack, CatalogRow(), "", 0};
  change.row.id = id;
  change.row.reason = reason;
  return enqueue(std::move(change));
}

uint64_t Catalog::markLost(const std::string& id) {
  Change change{Change::kLost, CatalogRow(), "", 0};
  change.row.id = id;
  return enqueue(std::move(change));
}

bool Catalog::wait(uint64_t ticket, std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this, ticket] { return written_ >= ticket || !error_.empty(); });
  if (error_.empty()) return true;
  if (error != nullptr) *error = error_;
  return false;
}

void Catalog::writeLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    std::vector<Change> batch;
    batch.swap(queue_);
    const uint64_t batchEnd = queued_;
    lock.unlock();
    std::string error;
    bool ok = execute(writer_, "BEGIN", &error);
    for (size_t i = 0; ok && i < batch.size(); ++i) ok = apply(batch[i], &error);
    ok = ok && execute(writer_, "COMMIT", &error);
    if (!ok) {
      std::string ignored;
      execute(writer_, "ROLLBACK", &ignored);
    }
    lock.lock();
    if (!ok && error_.empty()) error_ = "catalog write failed: " + error;
    written_ = batchEnd;
    ++transactions_;
    done_.notify_all();
  }
}

bool Catalog::apply(const Change& change, std::string* error) {
  sqlite3_stmt* stmt = writes_[change.kind];
  sqlite3_clear_bindings(stmt);
  const CatalogRow& row = change.row;
  switch (change.kind) {
    case Change::kInsert:
      BindText(stmt, 1, row.key);
      sqlite3_bind_int64(stmt, 2, static_cast<int64_t>(row.version));
      BindText(stmt, 3, row.id);
      sqlite3_bind_int64(stmt, 4, static_cast<int64_t>(row.size));
      BindText(stmt, 5, ObjectStateName(row.state));
      sqlite3_bind_int64(stmt, 6, row.job);
      sqlite3_bind_int(stmt, 7, row.stream);
      sqlite3_bind_double(stmt, 8, row.putTime);
      sqlite3_bind_double(stmt, 9, row.committedTime);
      sqlite3_bind_int64(stmt, 10, row.handBacks);
      BindText(stmt, 11, row.reason);
      break;
    case Change::kInJob:
      BindText(stmt, 1, row.id);
      sqlite3_bind_int64(stmt, 2, row.job);
      sqlite3_bind_int(stmt, 3, row.stream);
      break;
    case Change::kCommitted:
      BindText(stmt, 1, row.id);
      sqlite3_bind_double(stmt, 2, row.committedTime);
      break;
    case Change::kHandedBack:
      BindText(stmt, 1, row.id);
      BindText(stmt, 2, row.reason);
      break;
    case Change::kLost:
      BindText(stmt, 1, row.id);
      break;
    case Change::kSetting:
      BindText(stmt, 1, change.name);
      sqlite3_bind_int64(stmt, 2, change.value);
      break;
  }
  const bool done = sqlite3_step(stmt) == SQLITE_DONE;
  if (!done) *error = sqlite3_errmsg(writer_);
  sqlite3_reset(stmt);
  return done;
}

bool Catalog::latest(const std::string& key, CatalogRow* row) {
  std::lock_guard<std::mutex> lock(readMutex_);
  Statement statement(reader_, std::string("SELECT ") + kColumns +
                                   " FROM objects WHERE key=?1 ORDER BY version DESC LIMIT 1");
  if (statement.stmt == nullptr) return false;
  BindText(statement.stmt, 1, key);
  if (sqlite3_step(statement.stmt) != SQLITE_ROW) return false;
  *row = ReadRow(statement.stmt);
  return true;
}

bool Catalog::byId(const std::string& id, CatalogRow* row) {
  std::lock_guard<std::mutex> lock(readMutex_);
  Statement statement(reader_, std::string("SELECT ") + kColumns + " FROM objects WHERE id=?1");
  if (statement.stmt == nullptr) return false;
  BindText(statement.stmt, 1, id);
  if (sqlite3_step(statement.stmt) != SQLITE_ROW) return false;
  *row = ReadRow(statement.stmt);
  return true;
}

void Catalog::forEachWaiting(const std::function<void(const CatalogRow&)>& visit) {
  std::lock_guard<std::mutex> lock(readMutex_);
  Statement statement(reader_, std::string("SELECT ") + kColumns +
                                   " FROM objects WHERE state NOT IN ('committed', 'lost')"
                                   " ORDER BY version");
  if (statement.stmt == nullptr) return;
  while (sqlite3_step(statement.stmt) == SQLITE_ROW) visit(ReadRow(statement.stmt));
}

uint64_t Catalog::maxVersion() {
  std::lock_guard<std::mutex> lock(readMutex_);
  Statement statement(reader_, "SELECT MAX(version) FROM objects");
  if (statement.stmt == nullptr || sqlite3_step(statement.stmt) != SQLITE_ROW) return 0;
  return static_cast<uint64_t>(sqlite3_column_int64(statement.stmt, 0));
}

int64_t Catalog::readSetting(const std::string& name) {
  std::lock_guard<std::mutex> lock(readMutex_);
  Statement statement(reader_, "SELECT value FROM settings WHERE name=?1");
  if (statement.stmt == nullptr) return 0;
  BindText(statement.stmt, 1, name);
  if (sqlite3_step(statement.stmt) != SQLITE_ROW) return 0;
  return sqlite3_column_int64(statement.stmt, 0);
}

int64_t Catalog::takeJobId(int64_t atLeast) {
  const int64_t next = readSetting("next_job_id");
  const int64_t id = next > atLeast ? next : atLeast;
  Change change{Change::kSetting, CatalogRow(), "next_job_id", id + 1};
  if (!wait(enqueue(std::move(change)))) return 0;
  return id;
}

void Catalog::failForTesting(const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = reason;
  }
  done_.notify_all();
}

uint64_t Catalog::transactions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transactions_;
}

}  // namespace objstore_host

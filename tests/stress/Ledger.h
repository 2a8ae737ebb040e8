// Ledger: the harness's own account of every sendItem call, against which it checks what the
// library reports. Each call opens an attempt; the attempt ends exactly once: committed (in a
// callback), handed back (in a failed list) or refused (its error said it was never taken on).
// Thread-safe: senders, the commit callback and the end of a job record at once.
#ifndef OBJSTORE_TESTS_STRESS_LEDGER_H_
#define OBJSTORE_TESTS_STRESS_LEDGER_H_

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace stress {

class Ledger {
 public:
  enum class Outcome { kPending, kSent, kFailed, kRefused };
  enum class End { kOpen, kCommitted, kHandedBack, kRefused };

  // What the ledger holds of a job, to compare with the library's statistics of it.
  struct JobCounts {
    uint64_t recorded = 0;  // attempts the library took on (sent, or failed after recording)
    uint64_t committed = 0;
    uint64_t handedBack = 0;
    uint64_t open = 0;
  };

  // Opens an attempt to send `name` in job `jobId`; returns its id. A name may be sent again only
  // once its earlier attempt has ended.
  uint64_t open(const std::string& name, int64_t jobId);
  // The attempt's end-of-file record is being sent on stream `aFileId`: its place in the
  // stream's order. Called on the sending thread, under the stream's send lock.
  void noteEndOfFile(uint64_t attempt, uint32_t aFileId);
  // Whether the attempt's end-of-file record was sent: the library took the item on.
  bool hadEndOfFile(uint64_t attempt);
  // sendItem returned: `outcome` says what its result means; kRefused ends the attempt.
  void returned(uint64_t attempt, Outcome outcome, const std::string& detail);
  // A commit callback of stream `aFileId`; `durable` (0: unknown) is the count the pipeline had
  // committed when it reported: no item further down the stream's order may be in it.
  void committed(uint32_t aFileId, const std::list<std::string>& items, uint64_t durable = 0);
  // Items found in a failed list (`where`: whose list).
  void handedBack(const std::list<std::string>& items, const std::string& where);

  // Every attempt has ended; otherwise a violation per open attempt.
  void checkAllEnded();
  JobCounts countsFor(int64_t jobId);
  std::vector<std::string> openNames(int64_t jobId);

  void violation(const std::string& text);
  bool failed();
  std::vector<std::string> violations();
  uint64_t attempts();
  uint64_t ended(End end);

 private:
  struct Attempt {
    std::string name;
    int64_t jobId;
    uint32_t aFileId = 0;
    uint64_t order = 0;  // place in its stream's end-of-file order, from 1
    Outcome outcome = Outcome::kPending;
    End end = End::kOpen;
  };
  void endLocked(uint64_t id, End end, const std::string& where);

  std::mutex mutex_;
  std::vector<Attempt> attempts_;
  std::map<std::string, uint64_t> open_;        // name -> its attempt not yet ended
  std::map<uint32_t, uint64_t> endOfFiles_;     // stream -> end-of-file records so far
  std::map<uint32_t, uint64_t> lastCommitted_;  // stream -> order of its last committed item
  std::vector<std::string> violations_;
};

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_LEDGER_H_

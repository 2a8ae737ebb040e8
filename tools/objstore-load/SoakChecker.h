// SoakChecker: decides, from the load clients' request log, what a backup store and a restore of
// its latest copies must hold after a soak, and says what is wrong.
//
// The promises it checks:
//   - every acknowledged PUT (201, or 200 with ?wait=committed) is restored byte for byte under
//     its key; for a key PUT several times, a generation at least as new as the latest
//     acknowledged one (a later PUT whose answer never came may have been stored too);
//   - every restored file and every committed copy in the store holds the bytes of a PUT some
//     client made under that key;
//   - every PUT answered 200 is among the committed items of the job and stream its answer named,
//     as counted by the committed count read right after the answer;
//   - a generation is committed more than once only when the copies before the last were sent
//     by a process that was killed later (the next one sent what its cache still held), or were
//     handed back by a failed send after them on their stream (the library hands back every
//     uncommitted item of the stream, and the pipeline may commit them anyway); such duplicates
//     are counted by cause.
// Feed it with addPut, addStoredCopy, addFailedItem and addRestoredFile in any order, then call
// finish().
// Not thread-safe.
#ifndef OBJSTORE_LOAD_SOAKCHECKER_H_
#define OBJSTORE_LOAD_SOAKCHECKER_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "PutRecord.h"

namespace objstore_load {

// A committed item of the store, as SoakInputs reads it.
struct StoredCopy {
  std::string key;  // the metadata's path
  uint64_t size = 0;
  uint64_t digest = 0;  // ContentDigest of its data
  int64_t jobId = 0;
  std::string runId;
  uint32_t aFileId = 0;
  int64_t streamIndex = 0;  // its place among the run's streams, by aFile ID
  uint64_t index = 0;       // the item's number in its stream
  int64_t pid = 0;          // of the process that ran the run (its manifest)
  uint64_t version = 0;     // the service's version of the object (its metadata); 0: none
};

// An item of the store that did not end with success (a failed send): the stream's uncommitted
// items before it were handed back to be sent again.
struct FailedItem {
  std::string runId;
  uint32_t aFileId = 0;
  uint64_t index = 0;
};

// A regular file of the restored tree.
struct RestoredFile {
  std::string key;  // its path below the restore target
  uint64_t size = 0;
  uint64_t digest = 0;
};

struct SoakVerdict {
  std::vector<std::string> failures;  // one line each; the soak passed when empty
  uint64_t generations = 0;           // distinct (key, generation) PUT
  uint64_t acknowledged = 0;          // ... of them acknowledged
  uint64_t committedAnswers = 0;      // ... of them answered 200
  uint64_t unknown = 0;               // ... never acknowledged
  uint64_t unknownStored = 0;         // ... of those, found committed in the store
  uint64_t storedCopies = 0;
  uint64_t storedWithoutAnswer = 0;        // copies of a PUT attempt whose answer never came
  uint64_t duplicates = 0;                 // copies beyond the first of a generation
  uint64_t duplicatesAfterKill = 0;        // ... sent again by the next process
  uint64_t duplicatesAfterFailedSend = 0;  // ... handed back by a failed send in one process
  uint64_t restoredFiles = 0;
  int64_t maxSampleDelayMicros = 0;  // from a 200 answer to the end of its committed-count read

  std::string json() const;
};

class SoakChecker {
 public:
  explicit SoakChecker(uint64_t seed) : seed_(seed) {}

  void addPut(const PutRecord& put);
  void addStoredCopy(const StoredCopy& copy);
  void addFailedItem(const FailedItem& item);
  void addRestoredFile(const RestoredFile& file);
  // Problems found while reading the inputs (a damaged store, an unreadable log line).
  void addProblem(const std::string& problem) { problems_.push_back(problem); }

  SoakVerdict finish();

 private:
  struct Generation {
    uint64_t size = 0;
    bool acknowledged = false;
    bool unanswered = false;      // an attempt got no answer, or one that was no acknowledgement
    std::set<uint64_t> versions;  // the versions its answers gave
    bool digestKnown = false;
    uint64_t digest = 0;
    std::vector<PutRecord> committedAnswers;  // its 200 answers
  };
  using Generations = std::map<uint64_t, Generation>;  // by generation

  // The generation of `key` whose bytes are `size` bytes with `digest`; 0 when no PUT made them.
  // Of several with the same bytes (two empty objects), the latest. A copy that carries a
  // `version` an answer gave is that answer's generation; one whose version no answer gave is
  // a generation with an attempt that was not acknowledged.
  uint64_t generationOf(const std::string& key, uint64_t size, uint64_t digest,
                        uint64_t version = 0);
  bool holdsBytes(const std::string& key, uint64_t number, Generation* gen, uint64_t size,
                  uint64_t digest);
  void checkRestored(SoakVerdict* verdict);
  void checkStore(SoakVerdict* verdict);
  void checkDuplicates(SoakVerdict* verdict);
  // Whether a failed send on the copy's stream after it handed the copy back.
  bool handedBack(const StoredCopy& copy) const;
  void checkCommittedAnswer(const PutRecord& put, uint64_t gen, SoakVerdict* verdict) const;

  const uint64_t seed_;
  std::map<std::string, Generations> keys_;
  std::vector<StoredCopy> copies_;
  // "<run id>/<aFile ID>" -> the numbers of its failed items.
  std::map<std::string, std::vector<uint64_t>> failedItems_;
  std::vector<RestoredFile> restored_;
  std::vector<std::string> problems_;
  // (key, generation) -> its committed copies, filled by checkStore.
  std::map<std::pair<std::string, uint64_t>, std::vector<const StoredCopy*>> copiesOf_;
};

}  // namespace objstore_load

#endif  // OBJSTORE_LOAD_SOAKCHECKER_H_

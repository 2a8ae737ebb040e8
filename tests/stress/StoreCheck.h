// StoreCheck: holds what the library reported committed against what the backup store holds.
// A callback notes each reported item with the count its stream's committed file held at that
// moment; after the run, check() reads the store back and wants, per report, a whole copy of the
// item (a successful end-of-file, no damage, the sections the disk cache holds) on the stream the
// report named, among the items committed when it was reported.
// Thread-safe: callbacks of every stream note at once.
#ifndef OBJSTORE_TESTS_STRESS_STORECHECK_H_
#define OBJSTORE_TESTS_STRESS_STORECHECK_H_

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace OBJECTOPSAPI {
struct StoreStreamInfo;
}

namespace stress {

class Ledger;

class StoreCheck {
 public:
  explicit StoreCheck(std::string storeDir) : storeDir_(std::move(storeDir)) {}

  // Items reported committed on stream `aFileId`: reads the stream's committed count now. A
  // stream without a committed file yet has committed nothing, and every report of it is wrong.
  void noteCommitted(uint32_t aFileId, const std::list<std::string>& items);
  // Reads the store and records a violation in `ledger` per report the store does not bear out.
  void check(Ledger& ledger);
  uint64_t checked() const { return checked_; }

 private:
  struct Report {
    std::string name;
    uint64_t durable;  // the stream's committed count when the item was reported
  };
  struct Copy {
    uint64_t index;
    bool whole;
  };
  uint64_t durableCount(uint32_t aFileId);
  void readCopies(const OBJECTOPSAPI::StoreStreamInfo& stream,
                  std::map<std::string, std::vector<Copy>>* copies, Ledger& ledger);
  static void Match(const std::vector<Report>& reports,
                    std::map<std::string, std::vector<Copy>>& copies, uint32_t aFileId,
                    Ledger& ledger);

  const std::string storeDir_;
  std::mutex mutex_;
  std::map<uint32_t, std::string> committedPaths_;
  std::map<uint32_t, std::vector<Report>> reports_;  // per stream, in the order reported
  uint64_t checked_ = 0;
};

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_STORECHECK_H_

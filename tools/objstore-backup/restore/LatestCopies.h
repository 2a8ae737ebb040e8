// LatestCopies: chooses, among the committed copies of each path, the one a restore writes.
//
// A copy with a higher metadata version wins (the service counts each key's changes); between
// equal versions the copy of the later job wins (job ids grow); between copies of one job, the
// one offered later (the later record: copies are offered in the order they were stored).
// Not thread-safe: one walk offers copies to it.
#ifndef OBJSTORE_HOST_LATESTCOPIES_H_
#define OBJSTORE_HOST_LATESTCOPIES_H_

#include <cstdint>
#include <map>
#include <string>

#include "StoreWalker.h"

namespace objstore_host {

class LatestCopies {
 public:
  // Records a copy of `path` lying at `place`; it replaces the copy held for the path when it
  // ranks higher (see above).
  void offer(const std::string& path, uint64_t version, int64_t jobId, const CopyPlace& place);

  // True when the copy at `place` is the one chosen for `path`.
  bool isChosen(const std::string& path, const CopyPlace& place) const;

  uint64_t paths() const { return chosen_.size(); }
  uint64_t offered() const { return offered_; }

 private:
  struct Choice {
    uint64_t version;
    int64_t jobId;
    CopyPlace place;
  };

  std::map<std::string, Choice> chosen_;
  uint64_t offered_ = 0;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_LATESTCOPIES_H_

#include "LatestCopies.h"

namespace objstore_host {

void LatestCopies::offer(const std::string& path, uint64_t version, int64_t jobId,
                         const CopyPlace& place) {
  ++offered_;
  auto held = chosen_.find(path);
  if (held == chosen_.end()) {
    chosen_.emplace(path, Choice{version, jobId, place});
    return;
  }
  Choice& choice = held->second;
  // A later offer wins a tie: it is the later record of the same job.
  if (version < choice.version) return;
  if (version == choice.version && jobId < choice.jobId) return;
  choice = Choice{version, jobId, place};
}

bool LatestCopies::isChosen(const std::string& path, const CopyPlace& place) const {
  auto held = chosen_.find(path);
  return held != chosen_.end() && held->second.place == place;
}

}  // namespace objstore_host

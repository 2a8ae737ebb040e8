// CommitSampler: reads, from a backup store that a job is writing, how many items each stream of
// a job has committed right now, in every run of the job.
//
// The pipeline replaces a stream's committed file atomically once the data it counts is synced
// and before it reports the commit, so a count read after a commit was reported is at least the
// count that commit made. Reading takes no lock and is safe beside a running job. Thread-safe.
#ifndef OBJSTORE_LOAD_COMMITSAMPLER_H_
#define OBJSTORE_LOAD_COMMITSAMPLER_H_

#include <cstdint>
#include <map>
#include <string>

namespace objstore_load {

class CommitSampler {
 public:
  explicit CommitSampler(std::string storeDir) : storeDir_(std::move(storeDir)) {}

  // "<run id>/<aFile ID>" -> the committed count of that stream, for every stream of every run
  // of `jobId` whose committed file could be read. Empty when none could (no store, no such run
  // or no commit yet).
  std::map<std::string, uint64_t> committedCounts(int64_t jobId) const;

  // The key committedCounts gives a stream.
  static std::string StreamKey(const std::string& runId, uint32_t aFileId);

 private:
  std::string storeDir_;
};

}  // namespace objstore_load

#endif  // OBJSTORE_LOAD_COMMITSAMPLER_H_

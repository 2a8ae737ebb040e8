// Verifier: checks a backup against its source tree. Every object of the source must have a
// committed copy in the store whose latest version holds the same bytes (files), the same
// target (symbolic links) or is a directory too (empty directories).
#ifndef OBJSTORE_HOST_VERIFIER_H_
#define OBJSTORE_HOST_VERIFIER_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Progress.h"
#include "SourceTree.h"
#include "StoreWalker.h"

namespace objstore_host {

struct VerifyOptions {
  std::string storeDir;
  std::string sourceDir;
  int64_t jobId = 0;
  bool allJobs = true;  // else only the runs of jobId
};

struct VerifyResult {
  uint64_t sourceObjects = 0;
  uint64_t verified = 0;
  uint64_t bytes = 0;                   // data bytes of the verified files
  std::vector<std::string> missing;     // source paths without a committed copy
  std::vector<std::string> mismatched;  // "path: difference" of the latest copies
  std::vector<std::string> extra;       // stored paths no longer in the source
  WalkStats walk;
  std::vector<std::string> problems;  // the source could not be read completely
  std::string noRuns;                 // why nothing was compared: the store holds no run
  double seconds = 0;

  bool ok() const {
    return noRuns.empty() && missing.empty() && mismatched.empty() && problems.empty() &&
           walk.problems.empty();
  }
};

class Verifier {
 public:
  // `progress` (may be null) counts checked copies and bytes.
  Verifier(const VerifyOptions& options, ProgressCounters* progress);

  VerifyResult run();

 private:
  void check(const StoredCopy& copy);
  static std::string Compare(const SourceEntry& entry, const StoredCopy& copy);

  const VerifyOptions options_;
  ProgressCounters* progress_;
  std::map<std::string, SourceEntry> source_;
  std::map<std::string, std::string> outcome_;  // path -> difference of its latest copy ("": same)
  VerifyResult result_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_VERIFIER_H_

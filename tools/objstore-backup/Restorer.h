// Restorer: writes the objects of one backup job back under a directory, each under its path,
// from its latest committed copy: files with their data, mode and modification time, symbolic
// links with their target, empty directories. Restoring a tree that the host ingested gives a
// tree that `diff -r` finds equal to the source.
//
// Paths come from the store and are not trusted: a path that is not a safe relative path, or
// whose parent in the target is not a real directory (a symbolic link, say), is refused.
#ifndef OBJSTORE_HOST_RESTORER_H_
#define OBJSTORE_HOST_RESTORER_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Progress.h"
#include "StoreWalker.h"

namespace objstore_host {

struct RestoreOptions {
  std::string storeDir;
  int64_t jobId = 1;
  std::string targetDir;  // created when missing
};

struct RestoreResult {
  uint64_t objects = 0;  // distinct paths restored
  uint64_t bytes = 0;
  uint64_t superseded = 0;  // earlier copies overwritten by later ones
  WalkStats walk;
  std::vector<std::string> problems;
  double seconds = 0;

  bool ok() const { return problems.empty() && walk.problems.empty(); }
};

class Restorer {
 public:
  // `progress` (may be null) counts restored copies and bytes.
  Restorer(const RestoreOptions& options, ProgressCounters* progress);

  RestoreResult run();

 private:
  void restore(const StoredCopy& copy);
  bool makeParent(const std::string& path, std::string* error) const;
  bool writeFile(const StoredCopy& copy, const std::string& target, std::string* error) const;
  bool writeSymlink(const StoredCopy& copy, const std::string& target, std::string* error) const;
  bool makeDirectory(const StoredCopy& copy, const std::string& target, std::string* error) const;

  const RestoreOptions options_;
  ProgressCounters* progress_;
  std::set<std::string> restored_;
  RestoreResult result_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_RESTORER_H_

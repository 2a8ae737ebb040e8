// RestoreTarget: puts restored objects under a target directory without ever clobbering what
// was there. A file or link that already holds what the copy holds is left alone; one that
// holds something else is skipped, unless overwriting was asked for, in which case it is
// replaced atomically (a temporary file next to it, renamed over it). Temporaries are named
// "<name>.objstore-restore-XXXXXX"; no call leaves one behind, and RemoveStaleTemporaries
// removes those of a restore that was killed.
//
// Paths come from the store and are not trusted: a path that is not a safe relative path, or
// whose parent in the target is not a real directory (a symbolic link, say), is refused.
// Not thread-safe.
#ifndef OBJSTORE_HOST_RESTORETARGET_H_
#define OBJSTORE_HOST_RESTORETARGET_H_

#include <cstdint>
#include <string>
#include <vector>

#include "StoreWalker.h"

namespace objstore_host {

class RestoreTarget {
 public:
  enum Outcome { kWritten, kUpToDate, kSkipped, kFailed };

  RestoreTarget(const std::string& dir, bool overwrite);

  // Creates the target directory; false, with the reason in `error`, when it cannot.
  bool create(std::string* error) const;
  // Removes the temporaries a killed restore left anywhere under the target; returns their
  // paths. Problems (an unreadable directory) go into `problems`.
  std::vector<std::string> removeStaleTemporaries(std::vector<std::string>* problems) const;

  // Puts `copy` (read with its data) under its path. `why` says why it was skipped or failed.
  Outcome place(const StoredCopy& copy, std::string* why) const;

  // True for a name that a restore's temporary file has.
  static bool IsTemporaryName(const std::string& name);

 private:
  bool makeParent(const std::string& path, std::string* error) const;
  Outcome placeFile(const StoredCopy& copy, const std::string& target, std::string* why) const;
  Outcome placeSymlink(const StoredCopy& copy, const std::string& target, std::string* why) const;
  Outcome placeDirectory(const StoredCopy& copy, const std::string& target, std::string* why) const;
  // Whether an existing `target` may be replaced; sets `outcome` when it may not.
  bool mayReplace(const std::string& target, const std::string& difference, Outcome* outcome,
                  std::string* why) const;

  const std::string dir_;
  const bool overwrite_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_RESTORETARGET_H_

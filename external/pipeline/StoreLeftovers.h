// StoreLeftovers: the files a killed writer leaves in the backup store, and their removal.
//
// A kill during StoreIo::ReplaceFileDurably leaves its temporary: stream-<N>.committed.tmp
// beside a stream, or MANIFEST.tmp in a run directory that a start was still setting up (then
// it holds nothing else). Readers skip these names, so nothing else would ever remove them.
//
// Only runs whose writer is gone count: the process named in the run id ("<micros>-<pid>-<n>")
// is neither this process nor alive. Only those exact names count, only as regular files, and
// links are never followed (neither a run directory nor a file that is a link is touched).
#ifndef OBJSTORE_PIPELINE_STORELEFTOVERS_H_
#define OBJSTORE_PIPELINE_STORELEFTOVERS_H_

#include <string>
#include <vector>

#include "CUxError.h"

namespace OBJECTOPSAPI {

class StoreLeftovers {
 public:
  // Whether `name` is one a killed write leaves: MANIFEST.tmp or stream-<N>.committed.tmp.
  static bool IsLeftoverName(const std::string& name);

  // Fills `paths` with the leftovers of the runs in `storeDir` whose writer is gone, one path
  // each; a run directory that holds nothing else is named too, after its files. A store that
  // does not exist has none. An error only when the store cannot be listed.
  static CUxError Find(const std::string& storeDir, std::vector<std::string>* paths);

  // Removes what Find names (files, then the directories left empty) and says what it removed
  // in `removed`; a path that cannot be removed is left and logged. Safe to run while other
  // processes write the store: their runs are not touched.
  static CUxError Remove(const std::string& storeDir, std::vector<std::string>* removed);
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_STORELEFTOVERS_H_

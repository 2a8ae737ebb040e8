// CUxDirectory: directory creation and removal. Error codes are errno values.
#ifndef OBJSTORE_PLATFORM_CUXDIRECTORY_H_
#define OBJSTORE_PLATFORM_CUXDIRECTORY_H_

#include "CUxError.h"

class CUxDirectory {
 public:
  // Creates `path` (mode 0777 less the umask). `createParents` also creates missing ancestors.
  // An existing entry at `path` gives error EEXIST (17).
  static CUxError Create(const char* path, bool createParents);

  // Removes the directory `path`. `recursive` removes everything below it first (symbolic
  // links are removed, never followed). `missingOk` makes a missing `path` a success; otherwise
  // it gives ENOENT (2).
  static CUxError Remove(const char* path, bool recursive, bool missingOk);
};

#endif  // OBJSTORE_PLATFORM_CUXDIRECTORY_H_

// Byte-for-byte comparisons of files with stored copies and with other files.
#ifndef OBJSTORE_HOST_FILECOMPARE_H_
#define OBJSTORE_HOST_FILECOMPARE_H_

#include <string>

#include "StoreWalker.h"

namespace objstore_host {

// True when the file at `path` holds exactly the data of `copy`; otherwise `difference` says
// where they part (or why the file could not be read).
bool FileMatchesCopy(const std::string& path, const StoredCopy& copy, std::string* difference);

// True when the files at `a` and `b` hold the same bytes.
bool FilesEqual(const std::string& a, const std::string& b, std::string* difference);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_FILECOMPARE_H_

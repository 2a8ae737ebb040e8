// Test helpers of the host program's tests: a small source tree of files of varied sizes.
#ifndef OBJSTORE_HOST_HOSTTESTTREE_H_
#define OBJSTORE_HOST_HOSTTESTTREE_H_

#include <string>

namespace objstore_host {

// Writes `files` files under `dir` (some in a subdirectory, one of them empty) and returns
// false when one cannot be written. Sizes vary from 0 to about 40 KiB.
bool WriteTestTree(const std::string& dir, int files);

// The number of segments in a disk cache directory, counted without opening the cache (which
// another process may be using).
int CountSegments(const std::string& cacheDir);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_HOSTTESTTREE_H_

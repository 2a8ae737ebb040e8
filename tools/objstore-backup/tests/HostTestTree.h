// Test helpers of the host program's tests: a small source tree of files of varied sizes, and
// the built program run as a child process.
#ifndef OBJSTORE_HOST_HOSTTESTTREE_H_
#define OBJSTORE_HOST_HOSTTESTTREE_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace objstore_host {

// Writes `files` files under `dir` (some in a subdirectory, one of them empty) and returns
// false when one cannot be written. Sizes vary from 0 to about 40 KiB.
bool WriteTestTree(const std::string& dir, int files);

// The number of segments in a disk cache directory, counted without opening the cache (which
// another process may be using).
int CountSegments(const std::string& cacheDir);

// Starts the built program with `args`, its standard output in `outFile` and, when one is named,
// its standard error in `errFile`; returns its pid.
pid_t StartHostProgram(const std::vector<std::string>& args, const std::string& outFile,
                       const std::string& errFile = "");

// The exit status of child `pid`, or 128 + the signal that ended it.
int WaitForExit(pid_t pid);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_HOSTTESTTREE_H_

// ProcessFigures: sizes a soak test samples to find leaks: the process's resident memory, open
// descriptors and threads (from /proc/self), and the library's registries.
#ifndef OBJSTORE_HOST_SERVE_PROCESSFIGURES_H_
#define OBJSTORE_HOST_SERVE_PROCESSFIGURES_H_

#include <cstddef>
#include <cstdint>

namespace objstore_host {

struct ProcessFigures {
  uint64_t rssBytes = 0;
  uint64_t openFds = 0;
  uint64_t threads = 0;
  size_t controllers = 0;        // gObjToAppIdMap's entries, under its lock
  size_t streamsRegistered = 0;  // gStreams's entries, under its lock

  // The figures now. Takes each library lock alone, only to read a size.
  static ProcessFigures Now();
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_PROCESSFIGURES_H_

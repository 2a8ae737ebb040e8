// BenchWorkload: a disk cache holding a set of equal-sized objects, written once and then backed
// up many times, through the library and by the raw baseline.
#ifndef OBJSTORE_BENCH_BENCHWORKLOAD_H_
#define OBJSTORE_BENCH_BENCHWORKLOAD_H_

#include <cstdint>
#include <string>
#include <vector>

namespace objstore_bench {

struct BenchWorkload {
  std::string cacheDir;
  uint64_t objectSize = 0;
  std::vector<std::string> items;  // segment names (the objects' GUIDs)
  uint64_t bytes = 0;              // data bytes of all objects
};

// Writes `count` objects of `objectSize` bytes, made as the host program ingests files (a
// header, a metadata section and 1 MiB data sections), into a new disk cache at `cacheDir`.
// False, with the reason in `error`, when the cache cannot be written.
bool MakeWorkload(const std::string& cacheDir, uint64_t objectSize, uint64_t count,
                  BenchWorkload* workload, std::string* error);

}  // namespace objstore_bench

#endif  // OBJSTORE_BENCH_BENCHWORKLOAD_H_

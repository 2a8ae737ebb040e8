// DemoTree: writes a tree of objects of mixed sizes for the demo, from a seed, so that a run
// can be repeated exactly.
//
// Sizes are drawn log-uniformly in three bands: 70% up to 4 KiB, 28% up to 256 KiB and 2% up to
// the largest size, each band clipped to [minSize, maxSize]; most objects are small and a few
// carry most of the bytes, as in a file system. Objects spread over nested directories; of more
// than three objects, three are an empty file, a symbolic link and an empty directory.
#ifndef OBJSTORE_HOST_DEMOTREE_H_
#define OBJSTORE_HOST_DEMOTREE_H_

#include <atomic>
#include <cstdint>
#include <random>
#include <string>

namespace objstore_host {

struct DemoTreeOptions {
  uint64_t objects = 3000;
  uint64_t minSize = 1;
  uint64_t maxSize = 4 << 20;
  uint32_t seed = 1;
  // When set, write() stops before the next object and returns true with a partial tree; the
  // caller, which set it, knows.
  const std::atomic<bool>* interrupt = nullptr;
};

struct DemoTreeStats {
  uint64_t objects = 0;  // files, links and directories written
  uint64_t bytes = 0;
};

class DemoTree {
 public:
  explicit DemoTree(const DemoTreeOptions& options);

  // Writes the tree under `dir` (created when missing). False, with the reason in `error`, when
  // a file cannot be written.
  bool write(const std::string& dir, DemoTreeStats* stats, std::string* error);

  // The size of the next object; exposed for tests of the distribution.
  uint64_t nextSize();

 private:
  bool writeFile(const std::string& path, uint64_t size, std::string* error);
  bool writeOddObjects(const std::string& dir, DemoTreeStats* stats, std::string* error);
  uint64_t logUniform(uint64_t low, uint64_t high);

  const DemoTreeOptions options_;
  std::mt19937_64 random_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_DEMOTREE_H_

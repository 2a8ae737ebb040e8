// CompareTrees: the differences between two directory trees as the host program sees them
// (regular files, symbolic links, empty directories; see SourceTree): objects missing on
// either side, kinds that differ, files with other bytes, links with other targets.
#ifndef OBJSTORE_HOST_TREECOMPARE_H_
#define OBJSTORE_HOST_TREECOMPARE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace objstore_host {

struct TreeComparison {
  uint64_t objects = 0;                  // objects of the first tree
  uint64_t bytes = 0;                    // data bytes compared
  std::vector<std::string> differences;  // one line each; empty when the trees are equal

  bool equal() const { return differences.empty(); }
};

TreeComparison CompareTrees(const std::string& expected, const std::string& actual);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_TREECOMPARE_H_

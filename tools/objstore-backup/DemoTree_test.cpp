// The demo's tree holds exactly the objects asked for: files, and, from four objects on, an
// empty file, a symbolic link and an empty directory among them.
#include "DemoTree.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"

namespace objstore_host {
namespace {

// Objects as ingest sees them: files, links and empty directories.
uint64_t CountObjects(const std::string& dir) {
  uint64_t objects = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_directory() || entry.is_symlink() || std::filesystem::is_empty(entry.path())) {
      ++objects;
    }
  }
  return objects;
}

TEST(DemoTreeTest, WritesExactlyTheObjectsAskedFor) {
  for (uint64_t objects : {0, 1, 3, 4, 9}) {
    objstore_testing::TempDir dir;
    DemoTreeOptions options;
    options.objects = objects;
    options.maxSize = 4096;
    DemoTreeStats stats;
    std::string error;
    ASSERT_TRUE(DemoTree(options).write(dir.sub("tree"), &stats, &error)) << error;
    EXPECT_EQ(objects, stats.objects);
    EXPECT_EQ(objects, CountObjects(dir.sub("tree"))) << objects << " objects asked for";
    EXPECT_EQ(objects > 3, std::filesystem::is_symlink(dir.sub("tree/link-to-first")));
  }
}

}  // namespace
}  // namespace objstore_host

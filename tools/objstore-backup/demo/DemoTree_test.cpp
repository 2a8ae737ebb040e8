// The demo's tree holds exactly the objects asked for: files, and, from four objects on, an
// empty file, a symbolic link and an empty directory among them.
#include "DemoTree.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "DirectoryDiskCache.h"
#include "Ingester.h"
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

// Ctrl-C during a long demo must not wait for the whole tree (or its ingest) to be written.
TEST(DemoTreeTest, InterruptedTreeAndIngestStopBeforeTheNextObject) {
  objstore_testing::TempDir dir;
  std::atomic<bool> interrupt{true};
  DemoTreeOptions tree;
  tree.objects = 50;
  tree.interrupt = &interrupt;
  DemoTreeStats stats;
  std::string error;
  ASSERT_TRUE(DemoTree(tree).write(dir.sub("tree"), &stats, &error)) << error;
  EXPECT_EQ(0u, stats.objects);

  interrupt = false;
  ASSERT_TRUE(DemoTree(tree).write(dir.sub("tree"), &stats, &error)) << error;
  interrupt = true;
  IngestOptions ingest;
  ingest.sourceDir = dir.sub("tree");
  ingest.cacheDir = dir.sub("cache");
  ingest.interrupt = &interrupt;
  EXPECT_EQ(0u, Ingester(ingest, nullptr).run().objects);
  EXPECT_TRUE(ObjectStore::DirectoryDiskCache(dir.sub("cache")).listSegments().empty());
}

}  // namespace
}  // namespace objstore_host

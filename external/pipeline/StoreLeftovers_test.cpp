#include "StoreLeftovers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace OBJECTOPSAPI {
namespace {

TEST(StoreLeftoversTest, OnlyTheExactTemporaryNamesAreLeftovers) {
  struct Case {
    const char* name;
    bool leftover;
  };
  const Case cases[] = {
      {"MANIFEST.tmp", true},
      {"stream-1.committed.tmp", true},
      {"stream-42.committed.tmp", true},
      {"MANIFEST", false},
      {"MANIFEST.tmp.old", false},
      {"stream-1.committed", false},
      {"stream-1.data.tmp", false},
      {"stream-0.committed.tmp", false},
      {"stream-x.committed.tmp", false},
      {"stream-.committed.tmp", false},
      {".committed.tmp", false},
      {"other.tmp", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.leftover, StoreLeftovers::IsLeftoverName(c.name)) << c.name;
}

// A process id that no process has: a child that has exited and been reaped.
pid_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

class StoreLeftoversStoreTest : public testing::Test {
 protected:
  std::string run(int64_t job, pid_t writer) const {
    const std::string dir =
        store_.sub(std::to_string(job) + ".1700000000000000-" + std::to_string(writer) + "-0");
    EXPECT_EQ(0, mkdir(dir.c_str(), 0755));
    return dir;
  }
  void file(const std::string& path) const { ASSERT_TRUE(objstore_testing::WriteFile(path, "x")); }

  objstore_testing::TempDir store_;
  objstore_testing::TempDir outside_;
};

TEST_F(StoreLeftoversStoreTest, DeadWritersTemporariesAreFoundAndRemovedAndNothingElse) {
  const pid_t dead = DeadPid();
  const std::string ended = run(5, dead);
  for (const char* name :
       {"MANIFEST", "stream-1.data", "stream-1.committed", "stream-1.committed.tmp",
        "stream-2.committed.tmp", "MANIFEST.tmp.old", "stream-1.data.tmp", "other.tmp"}) {
    file(ended + "/" + name);
  }
  ASSERT_EQ(0, mkdir((ended + "/stream-3.committed.tmp").c_str(), 0755));  // not a file
  file(outside_.sub("target"));
  ASSERT_EQ(0,
            symlink(outside_.sub("target").c_str(), (ended + "/stream-4.committed.tmp").c_str()));
  const std::string unstarted = run(6, dead);
  file(unstarted + "/MANIFEST.tmp");
  const std::string live = run(7, getppid());
  file(live + "/stream-1.committed.tmp");
  const std::string mine = run(8, getpid());
  file(mine + "/MANIFEST.tmp");
  // A link in the store to a dead run's directory is not followed.
  file(outside_.sub("MANIFEST.tmp"));
  ASSERT_EQ(0, symlink(outside_.path().c_str(),
                       store_.sub("9.1700000000000000-" + std::to_string(dead) + "-0").c_str()));

  std::vector<std::string> found;
  ASSERT_FALSE(StoreLeftovers::Find(store_.path(), &found).IsError());
  std::vector<std::string> expected = {ended + "/stream-1.committed.tmp",
                                       ended + "/stream-2.committed.tmp",
                                       unstarted + "/MANIFEST.tmp", unstarted};
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> sorted = found;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(expected, sorted);

  std::vector<std::string> removed;
  ASSERT_FALSE(StoreLeftovers::Remove(store_.path(), &removed).IsError());
  EXPECT_EQ(found, removed);
  for (const std::string& path : expected) EXPECT_FALSE(objstore_testing::PathExists(path)) << path;
  for (const char* name :
       {"MANIFEST", "stream-1.data", "stream-1.committed", "MANIFEST.tmp.old", "stream-1.data.tmp",
        "other.tmp", "stream-3.committed.tmp", "stream-4.committed.tmp"}) {
    EXPECT_TRUE(objstore_testing::PathExists(ended + "/" + name)) << name;
  }
  EXPECT_TRUE(objstore_testing::PathExists(outside_.sub("target")));
  EXPECT_TRUE(objstore_testing::PathExists(outside_.sub("MANIFEST.tmp")));
  EXPECT_TRUE(objstore_testing::PathExists(live + "/stream-1.committed.tmp"));
  EXPECT_TRUE(objstore_testing::PathExists(mine + "/MANIFEST.tmp"));
  ASSERT_FALSE(StoreLeftovers::Find(store_.path(), &found).IsError());
  EXPECT_TRUE(found.empty());
}

TEST_F(StoreLeftoversStoreTest, AMissingStoreHasNone) {
  std::vector<std::string> found = {"stale"};
  EXPECT_FALSE(StoreLeftovers::Find(store_.sub("none"), &found).IsError());
  EXPECT_TRUE(found.empty());
}

}  // namespace
}  // namespace OBJECTOPSAPI

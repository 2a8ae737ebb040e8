#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include "ObjectStoreStatic.h"
#include "TestSupport.h"

using ObjectStore::ObjectStoreStatic;
using objstore_testing::PathExists;

namespace {

class FilesTest : public ::testing::Test {
 protected:
  size_t logged(const std::string& fragment, int level) {
    return capture.log().countContaining(fragment, level);
  }
  objstore_testing::TempDir dir;
  objstore_testing::ScopedLogCapture capture;
};

TEST_F(FilesTest, CreateDirAndCreateFileTreatExistingAsCreated) {
  std::string d = dir.sub("d"), f = dir.sub("d/f");
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(ObjectStoreStatic::CreateDir(d, false));
  EXPECT_EQ(capture.log().count("Created directory [" + d + "].", 2), 2u);
  EXPECT_FALSE(ObjectStoreStatic::CreateDir(dir.sub("no/d"), false));
  EXPECT_EQ(logged("Error: Failed to create directory [" + dir.sub("no/d") + "] [", -1), 1u);

  ASSERT_TRUE(objstore_testing::WriteFile(f, "keep"));
  EXPECT_TRUE(ObjectStoreStatic::CreateFile(f, 0600));
  EXPECT_EQ(objstore_testing::ReadFile(f), "keep");
  EXPECT_EQ(capture.log().count("Created file [" + f + "].", 2), 1u);
  errno = 0;
  EXPECT_FALSE(ObjectStoreStatic::CreateFile(dir.sub("no/f"), 0600));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(logged("Error: Failed to create file [" + dir.sub("no/f") + "] [", -1), 1u);
}

TEST_F(FilesTest, CreateDirReverse) {
  EXPECT_TRUE(ObjectStoreStatic::CreateDirReverse(dir.sub("a/b/c/")));
  EXPECT_TRUE(ObjectStoreStatic::CreateDirReverse(dir.sub("a/b")));
  EXPECT_TRUE(ObjectStoreStatic::CreateParentDir(dir.sub("x//y/file")));
  EXPECT_TRUE(PathExists(dir.sub("a/b/c")) && PathExists(dir.sub("x/y")));
  EXPECT_FALSE(PathExists(dir.sub("x/y/file")));
  EXPECT_TRUE(capture.log().records().empty());

  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("file"), "x"));
  EXPECT_FALSE(ObjectStoreStatic::CreateDirReverse(dir.sub("file/sub")));
  EXPECT_FALSE(ObjectStoreStatic::CreateDirReverse(dir.sub("file/a/b")));
  EXPECT_EQ(logged("Error: mkdir()failed. [" + dir.sub("file/"), -1), 2u);
  EXPECT_FALSE(ObjectStoreStatic::CreateDirReverse(""));
  EXPECT_FALSE(ObjectStoreStatic::CreateParentDir("name-without-slash"));
}

TEST_F(FilesTest, CreateDirReverseWithNoExistingAncestorCreatesNothing) {
  char saved[PATH_MAX];
  std::string gone = dir.sub("gone");
  ASSERT_TRUE(getcwd(saved, sizeof(saved)) != nullptr && ObjectStoreStatic::CreateDir(gone, false));
  // Relative to a deleted working directory every step up fails with ENOENT.
  ASSERT_EQ(chdir(gone.c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);
  bool created = ObjectStoreStatic::CreateDirReverse("p/q");
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_FALSE(created);
  EXPECT_FALSE(PathExists(saved + std::string("/p")));
}

TEST(ErrNameTest, Table) {
  const std::pair<int, const char*> cases[] = {
      {1, "EPERM"},   {2, "ENOENT"},        {13, "EACCES"},    {17, "EEXIST"},
      {28, "ENOSPC"}, {36, "ENAMETOOLONG"}, {39, "ENOTEMPTY"}, {40, "ELOOP"},
      {0, "0"},       {41, "41"},           {-1, "-1"},        {INT_MIN, "-2147483648"}};
  for (const auto& c : cases) {
    char buf[12] = "";
    EXPECT_STREQ(ObjectStoreStatic::GetErrName(c.first, buf), c.second);
  }
  EXPECT_STREQ(ObjectStoreStatic::GetErrName(41, nullptr), "");
}

TEST_F(FilesTest, GetFileSizeNeverWraps) {
  std::string missing = dir.sub("missing"), small = dir.sub("small"), huge = dir.sub("huge");
  ASSERT_TRUE(objstore_testing::WriteFile(small, "12345"));
  int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0600);  // sparse, 3 GiB
  ASSERT_TRUE(fd >= 0 && ftruncate(fd, 3LL << 30) == 0);
  close(fd);
  EXPECT_EQ(ObjectStoreStatic::GetFileSize(missing), -1);
  EXPECT_EQ(ObjectStoreStatic::GetFileSize(small), 5);
  EXPECT_EQ(ObjectStoreStatic::GetFileSize(huge), -1);
  EXPECT_EQ(logged("[" + huge + "] does not fit", -1), 1u);
}

TEST_F(FilesTest, RemoveDirAndRemoveDirReverse) {
  std::string missing = dir.sub("missing"), job = dir.sub("x/job");
  EXPECT_TRUE(ObjectStoreStatic::RemoveDir(missing, false));
  EXPECT_EQ(capture.log().count("Removed directory [" + missing + "].", 4), 1u);
  ASSERT_TRUE(ObjectStoreStatic::CreateDirReverse(job + "/7/data"));
  ASSERT_TRUE(ObjectStoreStatic::CreateDirReverse(job + "/8"));
  EXPECT_FALSE(ObjectStoreStatic::RemoveDir(job + "/7", false));
  EXPECT_EQ(logged("Error: Failed to remove directory [" + job + "/7]. [", -1), 1u);

  EXPECT_TRUE(ObjectStoreStatic::RemoveDirReverse(job + "/7", 1));
  EXPECT_TRUE(PathExists(job) && !PathExists(job + "/7"));
  EXPECT_TRUE(ObjectStoreStatic::RemoveDirReverse(job + "/8", 2));  // job is empty now
  EXPECT_TRUE(PathExists(dir.sub("x")) && !PathExists(job));
  // Unbounded: climbs until the first ancestor that still holds something.
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("keep"), ""));
  EXPECT_TRUE(ObjectStoreStatic::RemoveDirReverse(dir.sub("x"), 0));
  EXPECT_TRUE(PathExists(dir.path()) && !PathExists(dir.sub("x")));
}

TEST_F(FilesTest, SetRegularFileKeepsPermissionBits) {
  struct stat st = {};
  st.st_mode = 040755;
  ObjectStoreStatic::SetRegularFile(nullptr, &st);
  EXPECT_EQ(st.st_mode, 0100755u);
  EXPECT_EQ(capture.log().count("Marked as regular file. st_mode [81ed]", 3), 1u);
}

}  // namespace

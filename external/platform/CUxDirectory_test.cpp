#include "CUxDirectory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "CUxFile.h"
#include "TestSupport.h"

namespace {

using objstore_testing::PathExists;
using objstore_testing::TempDir;
using objstore_testing::WriteFile;

TEST(CUxDirectoryTest, CreateReportsErrnoCodes) {
  TempDir dir;
  std::string deep = dir.sub("a/b/c");
  ASSERT_TRUE(WriteFile(dir.sub("file"), "x"));
  struct Case {
    std::string path;
    bool parents;
    uint32_t code;
  } cases[] = {
      {deep, false, ENOENT},
      {deep, true, 0},
      {deep, true, EEXIST},
      {dir.sub("a"), false, EEXIST},
      {dir.sub("file/x"), true, ENOTDIR},
      {dir.sub("e//f/"), true, 0},
      {"", true, ENOENT},
  };
  for (const Case& c : cases) {
    CUxError error = CUxDirectory::Create(c.path.c_str(), c.parents);
    EXPECT_EQ(c.code, error.GetErrorCode()) << c.path << " " << error.AsString();
    if (c.code != 0) {
      EXPECT_NE(std::string::npos, error.GetMessage().find(strerror(c.code)));
    }
  }
  EXPECT_TRUE(PathExists(deep));
  EXPECT_TRUE(PathExists(dir.sub("e/f")));
}

TEST(CUxDirectoryTest, RemoveReportsErrnoCodes) {
  TempDir dir;
  ASSERT_FALSE(CUxDirectory::Create(dir.sub("full/sub").c_str(), true).IsError());
  ASSERT_TRUE(WriteFile(dir.sub("file"), "x"));
  struct Case {
    std::string path;
    bool recursive, missingOk;
    uint32_t code;
  } cases[] = {
      {dir.sub("missing"), false, false, ENOENT}, {dir.sub("missing"), true, true, 0},
      {dir.sub("full"), false, false, ENOTEMPTY}, {dir.sub("file"), true, true, ENOTDIR},
      {dir.sub("full/sub"), false, false, 0},     {dir.sub("full"), true, false, 0},
  };
  for (const Case& c : cases) {
    CUxError error = CUxDirectory::Remove(c.path.c_str(), c.recursive, c.missingOk);
    EXPECT_EQ(c.code, error.GetErrorCode()) << c.path << " " << error.AsString();
  }
  EXPECT_FALSE(PathExists(dir.sub("full")));
  EXPECT_TRUE(PathExists(dir.sub("file")));
}

TEST(CUxDirectoryTest, RecursiveRemoveNeverFollowsSymbolicLinks) {
  TempDir dir;
  std::string outside = dir.sub("outside"), tree = dir.sub("tree");
  ASSERT_FALSE(CUxDirectory::Create(outside.c_str(), false).IsError());
  ASSERT_TRUE(WriteFile(outside + "/keep", "precious"));
  ASSERT_FALSE(CUxDirectory::Create((tree + "/deep/er").c_str(), true).IsError());
  ASSERT_TRUE(WriteFile(tree + "/deep/er/file", "x"));
  ASSERT_EQ(0, symlink(outside.c_str(), (tree + "/deep/dirlink").c_str()));
  ASSERT_EQ(0, symlink((outside + "/keep").c_str(), (tree + "/filelink").c_str()));
  ASSERT_EQ(0, symlink(outside.c_str(), dir.sub("toplink").c_str()));

  EXPECT_EQ(ENOTDIR, CUxDirectory::Remove(dir.sub("toplink").c_str(), true, false).GetErrorCode());
  EXPECT_FALSE(CUxDirectory::Remove(tree.c_str(), true, false).IsError());
  EXPECT_FALSE(PathExists(tree));
  EXPECT_EQ("precious", objstore_testing::ReadFile(outside + "/keep"));
}

TEST(CUxFileTest, OpenAndCloseReportErrnoCodes) {
  TempDir dir;
  CUxFile file;
  EXPECT_EQ(static_cast<uint32_t>(ENOENT),
            file.Open(dir.sub("none").c_str(), O_RDONLY, 0).GetErrorCode());
  EXPECT_EQ(-1, file.Descriptor());
  EXPECT_FALSE(file.Open(dir.sub("made").c_str(), O_CREAT, 0644).IsError());
  EXPECT_GE(file.Descriptor(), 0);
  EXPECT_TRUE(PathExists(dir.sub("made")));
  EXPECT_FALSE(file.Close().IsError());
  EXPECT_FALSE(file.Close().IsError());  // closing a closed file is harmless
}

}  // namespace

#include "ObjectStoreStatic.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "KAPlatformInfo.h"
#include "TestSupport.h"

using ObjectStore::initBackupInterace;
using ObjectStore::ObjectStoreStatic;
using objstore_testing::PathExists;

namespace {

// A private settings file and client name; restores the process-wide root and client name.
class RootDirTest : public ::testing::Test {
 protected:
  ~RootDirTest() override {
    ObjectStoreStatic::rootDir = savedRoot;
    ObjectStoreStatic::clientName = savedClient;
  }
  std::string storedBase() {
    std::string base = "(none)";
    KAPlatformInfo().getString("OBJECTSTORE", "sOBJECTSTORERootDir", &base);
    return base;
  }
  size_t logged(const std::string& text, int level) { return capture.log().count(text, level); }

  objstore_testing::TempDir dir;
  objstore_testing::ScopedEnv settingsFile{"OBJSTORE_SETTINGS_FILE", dir.sub("settings")};
  objstore_testing::ScopedEnv client{"OBJSTORE_CLIENT_NAME", "client7"};
  objstore_testing::ScopedLogCapture capture;
  std::string savedRoot = ObjectStoreStatic::rootDir, savedClient = ObjectStoreStatic::clientName;
};

TEST_F(RootDirTest, ExplicitBaseIsNormalisedCreatedAndNeverStored) {
  EXPECT_EQ(ObjectStoreStatic::rootDir, "/OBJECTSTORE");
  EXPECT_TRUE(initBackupInterace(dir.path() + "//"));
  EXPECT_EQ(ObjectStoreStatic::rootDir, dir.sub("OBJECTSTORE"));
  EXPECT_TRUE(PathExists(dir.sub("OBJECTSTORE")));
  EXPECT_TRUE(initBackupInterace(dir.path()));  // exists already
  EXPECT_EQ(storedBase(), "(none)");
  EXPECT_EQ(ObjectStoreStatic::clientName, "");
}

// A relative base is made absolute once, against the working directory of the call.
TEST_F(RootDirTest, RelativeBaseIsMadeAbsolute) {
  char saved[PATH_MAX];
  ASSERT_NE(nullptr, getcwd(saved, sizeof(saved)));
  ASSERT_EQ(0, chdir(dir.path().c_str()));
  ASSERT_TRUE(ObjectStoreStatic::CreateDir(dir.sub("rel"), false));
  const bool entered = initBackupInterace("rel");
  ASSERT_EQ(0, chdir(saved));
  EXPECT_TRUE(entered);
  EXPECT_EQ(ObjectStoreStatic::rootDir, dir.sub("rel/OBJECTSTORE"));
}

// Each failure: false, one error record naming the path and what is wrong with it, the root as
// it was, and nothing made on disk.
struct RootFailure {
  const char* name;
  const char* makeFile;  // a regular file to put in the way, under the temporary directory
  const char* base;
  const char* record;  // %s: the temporary directory
};

class RootFailureTest : public RootDirTest, public testing::WithParamInterface<RootFailure> {};

TEST_P(RootFailureTest, FailsAtOnceKeepingTheRoot) {
  const RootFailure& failure = GetParam();
  ASSERT_TRUE(ObjectStoreStatic::CreateDir(dir.sub("ok"), false));
  if (failure.makeFile[0] != '\0') {
    ASSERT_TRUE(objstore_testing::WriteFile(dir.sub(failure.makeFile), ""));
  }
  EXPECT_FALSE(initBackupInterace(dir.sub(failure.base)));
  char record[512];
  snprintf(record, sizeof(record), failure.record, dir.path().c_str());
  EXPECT_EQ(capture.log().countContaining(record, -1), 1u) << record;
  EXPECT_EQ(ObjectStoreStatic::rootDir, "/OBJECTSTORE");
  if (failure.makeFile[0] == '\0') {
    EXPECT_FALSE(PathExists(dir.sub(failure.base)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bases, RootFailureTest,
    testing::Values(
        RootFailure{"BaseMissing", "", "missing",
                    "Error: Failed to create directory [%s/missing/OBJECTSTORE] ["},
        RootFailure{"BaseIsAFile", "file", "file",
                    "ERROR: Root base [%s/file] is not a directory. Exiting service."},
        RootFailure{"RootIsAFile", "ok/OBJECTSTORE", "ok",
                    "ERROR: Root dir [%s/ok/OBJECTSTORE] is not a directory. Exiting service."},
        RootFailure{"FileOnTheWay", "file", "file/deeper",
                    "ERROR: Root base [%s/file/deeper] is not a directory. Exiting service."}),
    [](const testing::TestParamInfo<RootFailure>& info) { return info.param.name; });

TEST_F(RootDirTest, SettingsBranchFallsBackToJobResultsAndStoresIt) {
  std::string jobResults = dir.sub("jr");
  ASSERT_TRUE(ObjectStoreStatic::CreateDir(jobResults, false));
  ASSERT_NE(KAPlatformInfo().setDirectory("Machines\\client7", "dJOBRESULTSDIR", jobResults), 0);
  EXPECT_TRUE(initBackupInterace(""));
  EXPECT_EQ(ObjectStoreStatic::clientName, "client7");
  EXPECT_EQ(ObjectStoreStatic::rootDir, jobResults + "/OBJECTSTORE");
  EXPECT_TRUE(PathExists(jobResults + "/OBJECTSTORE"));
  EXPECT_EQ(storedBase(), jobResults);
  EXPECT_NE(KAPlatformInfo().keyExists("~OBJECTSTORE"), 0);
  const std::string message = "No root dir given. Defaulting to [" + jobResults + "/OBJECTSTORE]";
  EXPECT_EQ(logged(message, 1), 1u);
  // The next start reads the stored base and says nothing about defaults.
  EXPECT_TRUE(ObjectStoreStatic::OBCacheRegistryForPath());
  EXPECT_EQ(logged(message, 1), 1u);

  // A stored base that cannot hold a root fails the start and keeps the root as it was.
  ASSERT_NE(KAPlatformInfo().setValue("OBJECTSTORE", "sOBJECTSTORERootDir", dir.sub("/no//")), 0);
  EXPECT_FALSE(initBackupInterace(""));
  EXPECT_EQ(ObjectStoreStatic::rootDir, jobResults + "/OBJECTSTORE");
}

TEST_F(RootDirTest, FileSystemSizesAreLoggedInBytes) {
  ASSERT_NE(KAPlatformInfo().setNumber("FileSystemAgent", "TotalBytes", 3), 0);
  ObjectStoreStatic::GetFSSizeFromReg(0, 2, 1);  // missing values keep the arguments
  EXPECT_EQ(logged("tbytes = [3145728]", 3), 1u);
  EXPECT_EQ(logged("FreeBytes = [2097152]", 3), 1u);
  EXPECT_EQ(logged("AvailBytes = [1048576]", 3), 1u);
}

}  // namespace

#include "ObjectStoreStatic.h"

#include <gtest/gtest.h>

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
  // A regular file in the root's place is an entry that exists: accepted, with a warning.
  ASSERT_TRUE(ObjectStoreStatic::CreateDir(dir.sub("f"), false));
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("f/OBJECTSTORE"), ""));
  EXPECT_TRUE(initBackupInterace(dir.sub("f")));
  EXPECT_EQ(logged("WARNING: Root dir [" + dir.sub("f/OBJECTSTORE") + "] is not a directory.", -1),
            1u);
}

TEST_F(RootDirTest, ExplicitFailuresKeepPreviousRoot) {
  EXPECT_FALSE(initBackupInterace(dir.sub("missing")));
  EXPECT_EQ(capture.log().countContaining(
                "Error: Failed to create directory [" + dir.sub("missing/OBJECTSTORE") + "] [", -1),
            1u);
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("file"), ""));
  EXPECT_FALSE(initBackupInterace(dir.sub("file")));
  EXPECT_EQ(logged("Root dir [" + dir.sub("file/OBJECTSTORE") +
                       "] cannot be accessed. Error [Not a directory]. Exiting service.",
                   1),
            1u);
  EXPECT_EQ(ObjectStoreStatic::rootDir, "/OBJECTSTORE");
}

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

  // A stored base is normalised; on failure the root holds the path that failed.
  ASSERT_NE(KAPlatformInfo().setValue("OBJECTSTORE", "sOBJECTSTORERootDir", dir.sub("/no//")), 0);
  EXPECT_FALSE(initBackupInterace(""));
  EXPECT_EQ(ObjectStoreStatic::rootDir, dir.sub("no/OBJECTSTORE"));
}

TEST_F(RootDirTest, FileSystemSizesAreLoggedInBytes) {
  ASSERT_NE(KAPlatformInfo().setNumber("FileSystemAgent", "TotalBytes", 3), 0);
  ObjectStoreStatic::GetFSSizeFromReg(0, 2, 1);  // missing values keep the arguments
  EXPECT_EQ(logged("tbytes = [3145728]", 3), 1u);
  EXPECT_EQ(logged("FreeBytes = [2097152]", 3), 1u);
  EXPECT_EQ(logged("AvailBytes = [1048576]", 3), 1u);
}

}  // namespace

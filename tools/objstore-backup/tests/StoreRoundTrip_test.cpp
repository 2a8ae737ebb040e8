// Reading backups back: the latest committed copy of an object wins, verify names what is
// missing or changed, and restore refuses stored paths that would lead out of its target.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BackupRun.h"
#include "DirectoryDiskCache.h"
#include "Ingester.h"
#include "ObjectId.h"
#include "PipelineOptions.h"
#include "Restorer.h"
#include "SegmentBuilder.h"
#include "TestSupport.h"
#include "Verifier.h"

namespace objstore_host {
namespace {

class StoreRoundTripTest : public testing::Test {
 protected:
  void TearDown() override { OBJECTOPSAPI::PipelineOptions::ClearOverride(); }

  void write(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(dir_.sub("src"));
    ASSERT_TRUE(objstore_testing::WriteFile(dir_.sub("src/" + path), content));
  }

  void ingestAndBackUp() {
    IngestOptions ingest;
    ingest.sourceDir = dir_.sub("src");
    ingest.cacheDir = dir_.sub("cache");
    ASSERT_TRUE(Ingester(ingest, nullptr).run().ok());
    backUp();
  }

  void backUp() {
    BackupOptions backup;
    backup.cacheDir = dir_.sub("cache");
    backup.rootBase = dir_.sub("root");
    backup.storeDir = dir_.sub("store");
    backup.jobId = 5;
    const BackupResult result = BackupRun(backup, nullptr).run();
    ASSERT_TRUE(result.ok()) << result.error;
  }

  RestoreResult restore() {
    RestoreOptions restore;
    restore.storeDir = dir_.sub("store");
    restore.jobId = 5;
    restore.targetDir = dir_.sub("restored");
    return Restorer(restore, nullptr).run();
  }

  VerifyResult verify() {
    VerifyOptions verify;
    verify.storeDir = dir_.sub("store");
    verify.sourceDir = dir_.sub("src");
    return Verifier(verify, nullptr).run();
  }

  objstore_testing::TempDir dir_;
  objstore_testing::ScopedEnv settings_{"OBJSTORE_SETTINGS_FILE", dir_.sub("settings")};
  objstore_testing::ScopedLogCapture log_{-1};
};

TEST_F(StoreRoundTripTest, TheLatestCommittedCopyOfEachObjectIsRestored) {
  write("kept", "first version of kept");
  write("changed", "first version");
  ingestAndBackUp();
  write("changed", "second, longer version");
  ingestAndBackUp();  // a second run of the same job sends every object again

  const RestoreResult result = restore();
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(2u, result.walk.runs);
  EXPECT_EQ(2u, result.objects);
  EXPECT_EQ(2u, result.superseded);
  EXPECT_EQ("second, longer version", objstore_testing::ReadFile(dir_.sub("restored/changed")));
  EXPECT_EQ("first version of kept", objstore_testing::ReadFile(dir_.sub("restored/kept")));
}

TEST_F(StoreRoundTripTest, VerifyNamesMissingAndChangedObjects) {
  write("same", "unchanged");
  write("changed", "before");
  ingestAndBackUp();
  write("changed", "after!");
  write("added", "not backed up");

  const VerifyResult result = verify();
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(3u, result.sourceObjects);
  EXPECT_EQ(1u, result.verified);
  EXPECT_EQ(std::vector<std::string>{"added"}, result.missing);
  ASSERT_EQ(1u, result.mismatched.size());
  EXPECT_EQ(0u, result.mismatched[0].rfind("changed: ", 0)) << result.mismatched[0];
}

TEST_F(StoreRoundTripTest, RestoreRefusesAPathThroughARestoredLink) {
  // A store whose objects would write through a link to a directory outside the target.
  std::unique_ptr<ObjectStore::DirectoryDiskCache> cache(
      new ObjectStore::DirectoryDiskCache(dir_.sub("cache")));
  ObjectMetadata link;
  link.kind = ObjectKind::kSymlink;
  link.path = "escape";
  link.linkTarget = dir_.sub("outside");
  ObjectMetadata file;
  file.path = "escape/planted";
  file.size = 4;
  file.mode = 0644;
  const SegmentBuilder builder(1 << 20);
  // Two runs, so that the store holds the link before the file whatever order the sending
  // threads would choose within one run.
  ASSERT_FALSE(
      cache->writeSegment(ObjectGuid(link.path), builder.fromMemory(link, "s1", "")).IsError());
  cache.reset();  // one DirectoryDiskCache per directory at a time
  backUp();
  cache.reset(new ObjectStore::DirectoryDiskCache(dir_.sub("cache")));
  ASSERT_FALSE(
      cache->writeSegment(ObjectGuid(file.path), builder.fromMemory(file, "s2", "data")).IsError());
  cache.reset();
  backUp();
  ASSERT_EQ(0, mkdir(dir_.sub("outside").c_str(), 0755));

  const RestoreResult result = restore();
  EXPECT_FALSE(result.ok());
  ASSERT_EQ(1u, result.problems.size());
  EXPECT_EQ(0u, result.problems[0].rfind("escape/planted: ", 0)) << result.problems[0];
  EXPECT_FALSE(objstore_testing::PathExists(dir_.sub("outside/planted")));
}

}  // namespace
}  // namespace objstore_host

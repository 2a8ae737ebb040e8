// Reading backups back: the latest committed copy of an object wins, verify names what is
// missing or changed, and restore refuses stored paths that would lead out of its target.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "BackupRun.h"
#include "CommandLine.h"
#include "DirectoryDiskCache.h"
#include "Ingester.h"
#include "JobManifest.h"
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

  void backUp(int64_t jobId = 5) {
    BackupOptions backup;
    backup.cacheDir = dir_.sub("cache");
    backup.rootBase = dir_.sub("root");
    backup.storeDir = dir_.sub("store");
    backup.jobId = jobId;
    const BackupResult result = BackupRun(backup, nullptr).run();
    ASSERT_TRUE(result.ok()) << result.error;
  }

  // Caches one object as the service would: its key as the path, with a version. With
  // `foreignMetadata`, the metadata section holds that text instead, as another writer's would.
  void cacheObject(const std::string& key, uint64_t version, const std::string& data,
                   const std::string& foreignMetadata = "") {
    ObjectStore::DirectoryDiskCache cache(dir_.sub("cache"));
    ObjectMetadata metadata;
    metadata.path = key;
    metadata.size = data.size();
    metadata.mode = 0644;
    metadata.version = version;
    const SegmentBuilder builder(1 << 20);
    std::vector<ObjectStore::SectionV> sections =
        builder.fromMemory(metadata, "s" + std::to_string(version), data);
    if (!foreignMetadata.empty()) {
      for (ObjectStore::SectionV& section : sections) {
        if (section.metaDataType == ObjectMetadata::kSectionKind) {
          section.data.assign(foreignMetadata.begin(), foreignMetadata.end());
        }
      }
    }
    ASSERT_FALSE(
        cache.writeSegment(ObjectGuid(key + "#" + std::to_string(version)), sections).IsError());
  }

  struct Outcome {
    int status;
    std::string out;
    std::string err;
  };
  Outcome command(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--store", dir_.sub("store")});
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunCommandLine(args, out, err);
    return Outcome{status, out.str(), err.str()};
  }

  RestoreResult restore(bool allJobs = false) {
    RestoreOptions restore;
    restore.storeDir = dir_.sub("store");
    restore.jobId = 5;
    restore.allJobs = allJobs;
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

TEST_F(StoreRoundTripTest, EveryJobsLatestCopiesAreRestoredUnderTheirKeys) {
  // Job 7 runs first, so that store order alone would let job 3's copies win, and job 3 holds
  // the higher version, so that job order alone would let job 7's win.
  cacheObject("bucket/a/b/versioned.txt", 1, "version one");
  cacheObject("bucket/unversioned", 0, "from job 7");
  ASSERT_NO_FATAL_FAILURE(backUp(7));
  // Runs of one second would be walked in job order; an earlier start puts job 7's run first.
  for (const auto& run : std::filesystem::directory_iterator(dir_.sub("store"))) {
    OBJECTOPSAPI::JobManifest manifest;
    ASSERT_FALSE(manifest.readFrom(run.path().string()).IsError());
    manifest.startTime -= 100;
    ASSERT_FALSE(manifest.writeTo(run.path().string()).IsError());
  }
  cacheObject("bucket/a/b/versioned.txt", 2, "version two");
  cacheObject("bucket/unversioned", 0, "from job 3");
  cacheObject("only/in/job3", 0, "job 3 alone");
  ASSERT_NO_FATAL_FAILURE(backUp(3));

  const RestoreResult result = restore(true);
  EXPECT_TRUE(result.ok()) << (result.problems.empty() ? "" : result.problems[0]);
  EXPECT_EQ(2u, result.walk.runs);
  EXPECT_EQ(3u, result.objects);
  EXPECT_EQ(2u, result.superseded);
  EXPECT_EQ("version two",
            objstore_testing::ReadFile(dir_.sub("restored/bucket/a/b/versioned.txt")));
  EXPECT_EQ("from job 7", objstore_testing::ReadFile(dir_.sub("restored/bucket/unversioned")));
  EXPECT_EQ("job 3 alone", objstore_testing::ReadFile(dir_.sub("restored/only/in/job3")));
}

TEST_F(StoreRoundTripTest, HostilePathsAreDamageToListAsToCheck) {
  cacheObject("fine", 0, "ok");
  ASSERT_NO_FATAL_FAILURE(backUp());
  ASSERT_EQ(0, command({"list"}).status);
  for (const char* hostile : {"/etc/planted", "a/../../planted"}) {
    cacheObject(hostile, 0, "bad");
    ASSERT_NO_FATAL_FAILURE(backUp());
  }
  const Outcome list = command({"list", "--json"});
  EXPECT_EQ(1, list.status) << list.out;
  const nlohmann::json runs = nlohmann::json::parse(list.out);
  ASSERT_EQ(3u, runs.size());
  EXPECT_EQ(1,
            std::count_if(runs.begin(), runs.end(),
                          [](const nlohmann::json& run) { return run.at("status") != "damaged"; }))
      << list.out;
  EXPECT_NE(std::string::npos, list.err.find("2 of 3 runs are damaged")) << list.err;
  EXPECT_EQ(1, command({"check", "--no-progress"}).status);
}

TEST_F(StoreRoundTripTest, AnotherWritersMetadataIsNamedButIsNoDamage) {
  cacheObject("mine", 0, "readable");
  cacheObject("theirs-1", 0, "12345", "other-host-object 7\nkey=theirs-1\n");
  cacheObject("theirs-2", 0, "", "{\"key\": \"theirs-2\"}");
  ASSERT_NO_FATAL_FAILURE(backUp());

  const Outcome check = command({"check", "--json"});
  EXPECT_EQ(0, check.status) << check.err;
  const nlohmann::json summary = nlohmann::json::parse(check.out);
  EXPECT_EQ(0, summary.at("damaged_copies"));
  EXPECT_EQ(2, summary.at("foreign_metadata_copies"));
  EXPECT_EQ(1, summary.at("committed_copies"));
  EXPECT_TRUE(summary.at("problems").empty()) << check.out;
  EXPECT_NE(std::string::npos, check.err.find("2 copies carry metadata in another writer's format"))
      << check.err;
  EXPECT_EQ(0, command({"list"}).status);

  // What can be proven still is: a damaged record of such a copy fails the check.
  std::string dataFile;
  std::string bytes;
  for (const auto& run : std::filesystem::directory_iterator(dir_.sub("store"))) {
    for (const auto& file : std::filesystem::directory_iterator(run.path())) {
      if (file.path().extension() != ".data") continue;
      bytes = objstore_testing::ReadFile(file.path().string());
      if (bytes.find("12345") != std::string::npos) dataFile = file.path().string();
      if (!dataFile.empty()) break;
    }
  }
  ASSERT_FALSE(dataFile.empty());
  bytes[bytes.find("12345")] = 'X';
  ASSERT_TRUE(objstore_testing::WriteFile(dataFile, bytes));
  EXPECT_EQ(1, command({"check", "--no-progress"}).status);
}

// A process id no process has: a child that has exited and been reaped.
pid_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

TEST_F(StoreRoundTripTest, CheckWarnsOfLeftoversThatTheNextJobRemoves) {
  cacheObject("fine", 0, "ok");
  ASSERT_NO_FATAL_FAILURE(backUp());
  const std::string dead = std::to_string(DeadPid());
  const std::string unstarted = dir_.sub("store/5.1700000000000000-" + dead + "-0");
  const std::string cut = dir_.sub("store/5.1700000000000001-" + dead + "-0");
  ASSERT_EQ(0, mkdir(unstarted.c_str(), 0755));
  ASSERT_EQ(0, mkdir(cut.c_str(), 0755));
  ASSERT_TRUE(objstore_testing::WriteFile(unstarted + "/MANIFEST.tmp", "job"));
  ASSERT_TRUE(objstore_testing::WriteFile(cut + "/stream-1.committed.tmp", "3"));

  const Outcome check = command({"check", "--json"});
  EXPECT_EQ(0, check.status) << check.err;
  const nlohmann::json leftovers =
      nlohmann::json::parse(check.out).at("leftovers_of_interrupted_writes");
  EXPECT_EQ(4u, leftovers.size()) << check.out;  // both files and both directories
  // Checking one job names only the leftovers of that job's runs.
  EXPECT_EQ(4u, nlohmann::json::parse(command({"check", "--json", "--job", "5"}).out)
                    .at("leftovers_of_interrupted_writes")
                    .size());
  EXPECT_TRUE(nlohmann::json::parse(command({"check", "--json", "--job", "9"}).out)
                  .at("leftovers_of_interrupted_writes")
                  .empty());
  EXPECT_NE(std::string::npos,
            check.err.find("[" + unstarted + "/MANIFEST.tmp] was left by an interrupted write"))
      << check.err;

  cacheObject("more", 0, "ok");
  ASSERT_NO_FATAL_FAILURE(backUp());
  EXPECT_FALSE(objstore_testing::PathExists(unstarted));
  EXPECT_FALSE(objstore_testing::PathExists(cut));
  const Outcome after = command({"check", "--json"});
  EXPECT_TRUE(nlohmann::json::parse(after.out).at("leftovers_of_interrupted_writes").empty());
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

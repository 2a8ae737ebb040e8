// Damage to a backup after the fact never looks like success: verify, restore and check end
// with status 1 and one line that names the file (and the object, where one is concerned), and
// restore still brings back every object it can prove intact.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "HostTestTree.h"
#include "Restorer.h"
#include "TestSupport.h"
#include "TreeCompare.h"

namespace objstore_host {
namespace {

const int kFiles = 30;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunCommand(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  Outcome outcome;
  outcome.status = RunCommandLine(args, out, err);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

class StoreDamageTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteTestTree(dir_.sub("src"), kFiles));
    ASSERT_EQ(0,
              RunCommand({"ingest", dir_.sub("src"), "--cache", dir_.sub("cache"), "--no-progress"})
                  .status);
    const Outcome backup =
        RunCommand({"backup", "--cache", dir_.sub("cache"), "--root", dir_.sub("root"), "--store",
                    dir_.sub("store"), "--job-id", "5", "--commit-items", "4", "--no-progress"});
    ASSERT_EQ(0, backup.status) << backup.err;
  }

  // The stream files of the only run, largest data file first.
  std::vector<std::string> dataFiles() const {
    std::vector<std::string> files;
    for (const auto& run : std::filesystem::directory_iterator(dir_.sub("store"))) {
      for (const auto& file : std::filesystem::directory_iterator(run.path())) {
        if (file.path().extension() == ".data") files.push_back(file.path().string());
      }
    }
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
      return std::filesystem::file_size(a) > std::filesystem::file_size(b);
    });
    return files;
  }
  std::string committedFile() const {
    const std::string data = dataFiles().front();
    return data.substr(0, data.size() - 5) + ".committed";
  }

  Outcome verify(const std::string& job = "5") {
    return RunCommand({"verify", "--store", dir_.sub("store"), "--source", dir_.sub("src"), "--job",
                       job, "--no-progress"});
  }
  Outcome restore(const std::string& job = "5", bool overwrite = false) {
    std::vector<std::string> args = {"restore", "--store", dir_.sub("store"),    "--job",
                                     job,       "--to",    dir_.sub("restored"), "--no-progress"};
    if (overwrite) args.push_back("--overwrite");
    return RunCommand(args);
  }
  Outcome check() { return RunCommand({"check", "--store", dir_.sub("store")}); }

  objstore_testing::TempDir dir_;
  objstore_testing::ScopedEnv settings_{"OBJSTORE_SETTINGS_FILE", dir_.sub("settings")};
  objstore_testing::ScopedEnv log_{"OBJSTORE_LOG_FILE", dir_.sub("log")};
};

void ExpectOneLineNaming(const Outcome& outcome, const std::string& command,
                         const std::vector<std::string>& fragments) {
  EXPECT_EQ(1, outcome.status) << command;
  EXPECT_EQ(0u, outcome.err.rfind("objstore-backup: " + command + " failed: ", 0)) << outcome.err;
  EXPECT_EQ(outcome.err.size() - 1, outcome.err.find('\n')) << outcome.err;
  for (const std::string& fragment : fragments) {
    EXPECT_NE(std::string::npos, outcome.err.find(fragment)) << command << ": " << outcome.err;
  }
}

// A byte of an object's data near the middle of a stream file: the middle of the first run of 64
// bytes of the test tree's letter pattern from the middle on. The middle byte itself may fall on
// a record's header, which is damage of another kind.
size_t DataByteNearTheMiddle(const std::string& bytes) {
  size_t run = 0;
  for (size_t i = bytes.size() / 2; i < bytes.size(); ++i) {
    const bool letter = bytes[i] >= 'a' && bytes[i] <= 'z';
    const bool follows = run > 0 && bytes[i] - 'a' == (bytes[i - 1] - 'a' + 1) % 26;
    run = !letter ? 0 : follows ? run + 1 : 1;
    if (run == 64) return i - 32;
  }
  return std::string::npos;
}

TEST_F(StoreDamageTest, AFlippedBitIsNamedByEveryCommand) {
  ASSERT_EQ(0, check().status);
  const std::string file = dataFiles().front();
  std::string bytes = objstore_testing::ReadFile(file);
  const size_t at = DataByteNearTheMiddle(bytes);
  ASSERT_NE(std::string::npos, at);
  bytes[at] ^= 0x01;
  ASSERT_TRUE(objstore_testing::WriteFile(file, bytes));
  for (const auto& outcome :
       {std::make_pair("verify", verify()), std::make_pair("restore", restore()),
        std::make_pair("check", check())}) {
    ExpectOneLineNaming(outcome.second, outcome.first, {"[" + file + "]", "fails its checksum"});
  }
}

struct CountDamage {
  const char* name;
  std::function<void(const std::string& committedFile)> damage;
  const char* problem;
};

class StoreCountDamageTest : public StoreDamageTest,
                             public testing::WithParamInterface<CountDamage> {};

TEST_P(StoreCountDamageTest, FailsButRestoresEveryCommittedObject) {
  const std::string committed = committedFile();
  GetParam().damage(committed);
  for (const auto& outcome :
       {std::make_pair("verify", verify()), std::make_pair("restore", restore()),
        std::make_pair("check", check())}) {
    ExpectOneLineNaming(outcome.second, outcome.first, {"[" + committed + "]", GetParam().problem});
  }
  // The manifest of the ended run still knows what was committed.
  EXPECT_TRUE(CompareTrees(dir_.sub("src"), dir_.sub("restored")).equal());
}

INSTANTIATE_TEST_SUITE_P(
    Damage, StoreCountDamageTest,
    testing::Values(CountDamage{"CommittedFileDeleted",
                                [](const std::string& file) { std::filesystem::remove(file); },
                                "is missing, but its run ended with"},
                    CountDamage{"CountLoweredByFive",
                                [](const std::string& file) {
                                  const uint64_t count =
                                      std::stoull(objstore_testing::ReadFile(file));
                                  objstore_testing::WriteFile(file,
                                                              std::to_string(count - 5) + "\n");
                                },
                                "items, but its run ended with"}),
    [](const testing::TestParamInfo<CountDamage>& info) { return info.param.name; });

TEST_F(StoreDamageTest, AJobTheStoreDoesNotHoldIsNamedAndNothingIsCreated) {
  const Outcome restored = restore("77");
  ExpectOneLineNaming(restored, "restore", {"holds no run of job 77"});
  EXPECT_FALSE(objstore_testing::PathExists(dir_.sub("restored")));
  const Outcome verified = verify("77");
  EXPECT_EQ(1, verified.status);
  EXPECT_EQ("objstore-backup: verify failed: the store [" + dir_.sub("store") +
                "] holds no run of job 77\n",
            verified.err);
}

TEST_F(StoreDamageTest, AnInterruptedRestoreStopsAndSaysSo) {
  std::atomic<bool> interrupt{true};
  RestoreOptions options;
  options.storeDir = dir_.sub("store");
  options.jobId = 5;
  options.targetDir = dir_.sub("restored");
  options.interrupt = &interrupt;
  const RestoreResult result = Restorer(options, nullptr).run();
  EXPECT_TRUE(result.interrupted);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(0u, result.objects);
  EXPECT_FALSE(objstore_testing::PathExists(dir_.sub("restored")));
}

TEST_F(StoreDamageTest, ARerunCleansUpAndNeverClobbers) {
  ASSERT_EQ(0, restore().status);
  // What a killed run leaves, and a local edit.
  const std::string stray = dir_.sub("restored/sub/file-3.objstore-restore-gGXZCT");
  ASSERT_TRUE(objstore_testing::WriteFile(stray, "half written"));
  ASSERT_TRUE(objstore_testing::WriteFile(dir_.sub("restored/file-1"), "edited"));

  ExpectOneLineNaming(restore(), "restore", {"1 existing files not replaced", "file-1"});
  EXPECT_FALSE(objstore_testing::PathExists(stray));
  EXPECT_EQ("edited", objstore_testing::ReadFile(dir_.sub("restored/file-1")));
  const Outcome overwritten = restore("5", true);
  EXPECT_EQ(0, overwritten.status) << overwritten.err;
  EXPECT_TRUE(CompareTrees(dir_.sub("src"), dir_.sub("restored")).equal());
}

}  // namespace
}  // namespace objstore_host

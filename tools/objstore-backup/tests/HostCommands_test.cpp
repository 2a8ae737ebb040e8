// The commands against a store made by a real backup: backup needs a root from the command line
// or the settings and saves none; list shows each run; every spelling of the shared options
// (--job or --job-id, --store or its default, global options before or after the command)
// reaches the same command.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "HostTestTree.h"
#include "KAPlatformInfo.h"
#include "RunLister.h"
#include "TestSupport.h"

namespace objstore_host {
namespace {

const int kFiles = 8;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunHost(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunCommandLine(args, out, err);
  return {status, out.str(), err.str()};
}

class HostCommandsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteTestTree(dir_.sub("src"), kFiles));
    ASSERT_EQ(0, RunHost({"ingest", dir_.sub("src"), "--cache", cache(), "--no-progress"}).status);
  }

  Outcome backup(std::vector<std::string> extra) const {
    std::vector<std::string> args = {"backup", "--cache", cache(), "--store",
                                     store(),  "--job",   "9",     "--no-progress"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunHost(args);
  }

  std::string cache() const { return dir_.sub("cache"); }
  std::string store() const { return dir_.sub("store"); }

  static std::string SavedRoot() {
    std::string saved;
    KAPlatformInfo().getString("OBJECTSTORE", "sOBJECTSTORERootDir", &saved);
    return saved;
  }

  objstore_testing::TempDir dir_;
  objstore_testing::ScopedEnv settings_{"OBJSTORE_SETTINGS_FILE", dir_.sub("settings")};
  objstore_testing::ScopedEnv storeEnv_{"OBJSTORE_PIPELINE_STORE", "", true};
  objstore_testing::ScopedEnv faults_{"OBJSTORE_PIPELINE_FAULTS", "", true};
  // A backup run in this process routes the log through these; later tests must not inherit it.
  objstore_testing::ScopedEnv logFile_{"OBJSTORE_LOG_FILE", "", true};
  objstore_testing::ScopedEnv logLevel_{"OBJSTORE_LOG_LEVEL", "", true};
};

TEST_F(HostCommandsTest, BackupWithoutARootFailsAndSavesNone) {
  const Outcome refused = backup({});
  EXPECT_EQ(2, refused.status);
  EXPECT_EQ("", refused.out);
  EXPECT_EQ(0, refused.err.rfind("objstore-backup: error: no root directory: give --root DIR", 0))
      << refused.err;
  EXPECT_EQ(refused.err.size() - 1, refused.err.find('\n')) << refused.err;
  EXPECT_EQ("", SavedRoot());
  EXPECT_EQ(kFiles, CountSegments(cache()));

  const Outcome given = backup({"--root", dir_.sub("root"), "--json"});
  ASSERT_EQ(0, given.status) << given.err;
  EXPECT_EQ("", SavedRoot());  // a root given on the command line is not saved either
}

TEST_F(HostCommandsTest, BackupUsesTheRootSavedInTheSettings) {
  ASSERT_NE(0, KAPlatformInfo().setValue("OBJECTSTORE", "sOBJECTSTORERootDir", dir_.sub("saved")));
  const Outcome done = backup({"--json"});
  ASSERT_EQ(0, done.status) << done.err;
  EXPECT_EQ(dir_.sub("saved") + "/OBJECTSTORE",
            nlohmann::json::parse(done.out)["root_dir"].get<std::string>());
}

TEST_F(HostCommandsTest, ListShowsEachRunOfTheStore) {
  ASSERT_EQ(0, backup({"--root", dir_.sub("root")}).status);
  const Outcome json = RunHost({"list", "--store", store(), "--json"});
  ASSERT_EQ(0, json.status) << json.err;
  const nlohmann::json runs = nlohmann::json::parse(json.out);
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(9, runs[0]["job"].get<int>());
  EXPECT_EQ(kFiles, runs[0]["items"].get<int>());
  EXPECT_EQ(kFiles, runs[0]["committed"].get<int>());
  EXPECT_EQ("ended", runs[0]["status"].get<std::string>());
  EXPECT_TRUE(std::regex_match(runs[0]["time"].get<std::string>(),
                               std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")));

  const Outcome text = RunHost({"list", "--store", store()});
  ASSERT_EQ(0, text.status);
  EXPECT_TRUE(std::regex_search(
      text.out, std::regex("\n9 +" + runs[0]["run"].get<std::string>() + " +8 +8  ended  +\\d{4}")))
      << text.out;

  const Outcome missing = RunHost({"list", "--store", dir_.sub("nowhere")});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ("objstore-backup: error: the store [" + dir_.sub("nowhere") + "] does not exist\n",
            missing.err);
}

TEST_F(HostCommandsTest, ListFailsAsCheckDoesOnDamageAndOnNoRun) {
  ASSERT_EQ(0, backup({"--root", dir_.sub("root")}).status);
  const Outcome none = RunHost({"list", "--store", store(), "--job", "99"});
  EXPECT_EQ(1, none.status);
  EXPECT_EQ(RunHost({"check", "--store", store(), "--job", "99"}).status, none.status);
  EXPECT_EQ("objstore-backup: list failed: the store [" + store() + "] holds no run of job 99\n",
            none.err);

  for (const auto& entry : std::filesystem::recursive_directory_iterator(store())) {
    if (entry.path().extension() == ".committed") {
      ASSERT_TRUE(objstore_testing::WriteFile(entry.path().string(), "x\n"));
    }
  }
  const Outcome damaged = RunHost({"list", "--store", store(), "--json"});
  EXPECT_EQ(1, damaged.status);
  EXPECT_EQ("objstore-backup: list failed: 1 of 1 runs are damaged (check tells where)\n",
            damaged.err);
  const nlohmann::json runs = nlohmann::json::parse(damaged.out);
  EXPECT_EQ("damaged", runs[0]["status"].get<std::string>());
  EXPECT_LE(1, runs[0]["problems"].get<int>());
  EXPECT_EQ(1, RunHost({"check", "--store", store()}).status);
}

TEST_F(HostCommandsTest, BackupCreatesOnlyTheLastPartOfTheRootAndSaysSo) {
  const Outcome created = backup({"--root", dir_.sub("new"), "--json"});
  ASSERT_EQ(0, created.status) << created.err;
  EXPECT_EQ(dir_.sub("new"),
            nlohmann::json::parse(created.out)["root_base_created"].get<std::string>());
  const Outcome again = backup({"--root", dir_.sub("new"), "--json"});
  ASSERT_EQ(0, again.status) << again.err;
  EXPECT_FALSE(nlohmann::json::parse(again.out).contains("root_base_created"));
  EXPECT_EQ(2, backup({"--root", dir_.sub("none/new")}).status);
  EXPECT_FALSE(objstore_testing::PathExists(dir_.sub("none")));
}

TEST_F(HostCommandsTest, EverySpellingOfTheSharedOptionsWorks) {
  ASSERT_EQ(0, backup({"--root", dir_.sub("root")}).status);
  const std::string s = store();
  const std::string src = dir_.sub("src");
  struct Spelling {
    std::vector<std::string> args;
    bool json;
  };
  const std::vector<Spelling> spellings = {
      {{"list", "--store", s, "--job", "9"}, false},
      {{"list", "--store", s, "--job-id", "9"}, false},
      {{"--json", "list", "--store", s}, true},
      {{"list", "--json", "--store", s}, true},
      {{"--json", "--no-progress", "check", "--store", s, "--job-id", "9"}, true},
      {{"--log-level", "2", "check", "--job", "9", "--store", s}, false},
      {{"verify", "--store", s, "--source", src, "--job-id", "9", "--no-progress"}, false},
      {{"--json", "verify", "--store", s, "--source", src, "--job", "9"}, true},
      {{"restore", "--store", s, "--job-id", "9", "--to", dir_.sub("r1"), "--json"}, true},
  };
  for (const Spelling& spelling : spellings) {
    std::string joined;
    for (const std::string& arg : spelling.args) joined += " " + arg;
    const Outcome outcome = RunHost(spelling.args);
    EXPECT_EQ(0, outcome.status) << joined << ": " << outcome.err;
    EXPECT_EQ(spelling.json, nlohmann::json::accept(outcome.out)) << joined;
  }
  // Without --store, every command reads the store a backup job would use.
  const objstore_testing::ScopedEnv fromEnvironment("OBJSTORE_PIPELINE_STORE", s);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list", "--job", "9"},
           {"check"},
           {"verify", "--source", src, "--no-progress"},
           {"restore", "--job", "9", "--to", dir_.sub("r2"), "--no-progress"},
           {"restore", "--to", dir_.sub("r3"), "--no-progress"}}) {
    const Outcome outcome = RunHost(args);
    EXPECT_EQ(0, outcome.status) << args[0] << ": " << outcome.err;
  }
}

TEST(RunListerTest, StatusTellsHowARunEnded) {
  struct Case {
    bool ended;
    int32_t endStatus;
    bool brokenStream;
    const char* expected;
  };
  const Case cases[] = {
      {false, 0, false, "not ended"},
      {true, 1, false, "ended"},
      {true, 2, false, "ended with error"},  // its start obtained no stream
      {true, 1, true, "ended with error"},   // a write of a stream failed
  };
  for (const Case& c : cases) {
    OBJECTOPSAPI::StoreRun run;
    run.manifest.ended = c.ended;
    run.manifest.endStatus = c.endStatus;
    run.manifest.streamEnds.resize(1);
    run.manifest.streamEnds[0].broken = c.brokenStream;
    EXPECT_EQ(c.expected, RunLister::StatusOf(run)) << c.ended << " " << c.endStatus;
  }
}

}  // namespace
}  // namespace objstore_host

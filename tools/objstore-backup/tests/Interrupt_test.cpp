// Ctrl-C and SIGTERM: an interrupted backup finishes what it sent, reports what is left and exits
// 130, and a rerun completes the job; an interrupted demo removes its workspace unless it was
// told to keep it; a second signal ends the process at once. The interrupt comes from the
// program's own seam (OBJSTORE_BACKUP_INTERRUPT_AFTER), after a known number of sends.
#include "ScopedInterrupt.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "HostTestTree.h"
#include "InterruptPresses.h"
#include "TestSupport.h"

namespace objstore_host {
namespace {

const int kFiles = 20;
const int kSentBeforeInterrupt = 5;

class InterruptTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteTestTree(dir_.sub("src"), kFiles));
    ASSERT_EQ(0, run({"ingest", dir_.sub("src"), "--cache", dir_.sub("cache")}, "ingest"));
  }

  int run(std::vector<std::string> args, const std::string& name) {
    args.push_back("--no-progress");
    return WaitForExit(StartHostProgram(args, dir_.sub(name + ".out"), dir_.sub(name + ".err")));
  }

  std::string output(const std::string& name) const {
    return objstore_testing::ReadFile(dir_.sub(name));
  }

  std::vector<std::string> backupArgs() const {
    // One thread and one stream: exactly the sends before the interrupt go out.
    return {"backup",
            "--cache",
            dir_.sub("cache"),
            "--root",
            dir_.sub("root"),
            "--store",
            dir_.sub("store"),
            "--job",
            "7",
            "--threads",
            "1",
            "--streams",
            "1",
            "--json"};
  }

  objstore_testing::TempDir dir_;
  objstore_testing::ScopedEnv settings_{"OBJSTORE_SETTINGS_FILE", dir_.sub("settings")};
  objstore_testing::ScopedEnv faults_{"OBJSTORE_PIPELINE_FAULTS", "", true};
  objstore_testing::ScopedEnv logFile_{"OBJSTORE_LOG_FILE", "", true};  // the program's default
};

TEST_F(InterruptTest, BackupCommitsWhatItSentAndARerunCompletesTheJob) {
  {
    const objstore_testing::ScopedEnv seam("OBJSTORE_BACKUP_INTERRUPT_AFTER",
                                           std::to_string(kSentBeforeInterrupt));
    ASSERT_EQ(130, run(backupArgs(), "interrupted")) << output("interrupted.err");
  }
  const nlohmann::json summary = nlohmann::json::parse(output("interrupted.out"));
  EXPECT_TRUE(summary["interrupted"].get<bool>());
  EXPECT_EQ(kSentBeforeInterrupt, summary["committed"].get<int>());
  EXPECT_EQ(kFiles - kSentBeforeInterrupt, summary["left_for_the_next_run"].get<int>());
  EXPECT_EQ(kFiles - kSentBeforeInterrupt, CountSegments(dir_.sub("cache")));
  EXPECT_EQ(
      "interrupted: finishing the items in flight; press Ctrl-C again to stop at once\n"
      "objstore-backup: backup failed: interrupted: 5 of 20 objects committed; run it again to "
      "send the other 15\n",
      output("interrupted.err"));

  ASSERT_EQ(0, run(backupArgs(), "rerun")) << output("rerun.err");
  EXPECT_EQ(kFiles - kSentBeforeInterrupt,
            nlohmann::json::parse(output("rerun.out"))["committed"].get<int>());
  EXPECT_EQ(0, CountSegments(dir_.sub("cache")));
  ASSERT_EQ(
      0, run({"restore", "--store", dir_.sub("store"), "--job", "7", "--to", dir_.sub("restored")},
             "restore"))
      << output("restore.err");
  ASSERT_EQ(
      0, run({"verify", "--store", dir_.sub("store"), "--source", dir_.sub("restored")}, "verify"))
      << output("verify.out");
}

// Runs a small demo interrupted after a few sends, in this process; returns its summary.
nlohmann::json InterruptedDemo(const std::vector<std::string>& extra, int* status) {
  const objstore_testing::ScopedEnv seam("OBJSTORE_BACKUP_INTERRUPT_AFTER", "3");
  std::vector<std::string> args = {"demo", "--objects", "12",           "--threads",
                                   "1",    "--json",    "--no-progress"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::ostringstream out;
  std::ostringstream err;
  *status = RunCommandLine(args, out, err);
  return nlohmann::json::parse(out.str());
}

TEST(DemoInterruptTest, RemovesItsWorkspaceUnlessToldToKeepIt) {
  // The demo routes the log into its workspace through these; later tests must not inherit it.
  const objstore_testing::ScopedEnv logFile("OBJSTORE_LOG_FILE", "", true);
  const objstore_testing::ScopedEnv logLevel("OBJSTORE_LOG_LEVEL", "", true);
  int status = 0;
  const nlohmann::json removed = InterruptedDemo({}, &status);
  EXPECT_EQ(130, status);
  EXPECT_TRUE(removed["interrupted"].get<bool>());
  EXPECT_TRUE(removed["workspace_removed"].get<bool>());
  EXPECT_FALSE(objstore_testing::PathExists(removed["workspace"].get<std::string>()));
  // Interrupted in the backup: the phases after it never ran, and the summary does not pretend.
  EXPECT_EQ(3u, removed["backup"]["committed"].get<uint64_t>());
  EXPECT_FALSE(removed.contains("restore"));
  EXPECT_FALSE(removed.contains("compare"));

  objstore_testing::TempDir dir;
  const nlohmann::json kept = InterruptedDemo({"--keep", dir.sub("work")}, &status);
  EXPECT_EQ(130, status);
  EXPECT_FALSE(kept["workspace_removed"].get<bool>());
  EXPECT_TRUE(objstore_testing::PathExists(dir.sub("work/cache")));
}

TEST_F(InterruptTest, OnePressDeliveredTwiceStillEndsWithASummary) {
  // As `timeout -s INT` or a terminal sends it: to the process and to its group at once.
  const objstore_testing::ScopedEnv seam("OBJSTORE_BACKUP_INTERRUPT_AFTER",
                                         std::to_string(kSentBeforeInterrupt));
  const objstore_testing::ScopedEnv twice("OBJSTORE_BACKUP_INTERRUPT_SIGNALS", "2");
  ASSERT_EQ(130, run(backupArgs(), "interrupted")) << output("interrupted.err");
  const nlohmann::json summary = nlohmann::json::parse(output("interrupted.out"));
  EXPECT_TRUE(summary["interrupted"].get<bool>());
  EXPECT_EQ(kSentBeforeInterrupt, summary["committed"].get<int>());
}

TEST(InterruptPressesTest, SignalsWithinTheWindowAreOnePress) {
  struct Case {
    int64_t window;
    int64_t first;
    int64_t then;
    InterruptPresses::Press expected;
  };
  const Case cases[] = {
      {100, 1000, 1000, InterruptPresses::kSameInstant},
      {100, 1000, 1099, InterruptPresses::kSameInstant},
      {100, 1000, 1100, InterruptPresses::kAgain},
      {100, 1000, 900000, InterruptPresses::kAgain},
      {0, 1000, 1000, InterruptPresses::kAgain},
  };
  for (const Case& c : cases) {
    InterruptPresses presses(c.window);
    EXPECT_EQ(InterruptPresses::kFirst, presses.press(c.first));
    EXPECT_EQ(c.expected, presses.press(c.then)) << c.window << " " << c.then;
    EXPECT_EQ(c.expected, presses.press(c.then)) << "a third signal, measured from the first";
    presses.reset();
    EXPECT_EQ(InterruptPresses::kFirst, presses.press(c.then));
  }
}

TEST(ScopedInterruptDeathTest, SignalsInTheSameInstantDoNotEndTheProcess) {
  EXPECT_EXIT(
      {
        ScopedInterrupt::SetSameInstantWindow(int64_t{3600} * 1000000000);
        const ScopedInterrupt interrupt;
        raise(SIGINT);
        raise(SIGINT);
        raise(SIGTERM);
        _exit(ScopedInterrupt::Flag() ? 3 : 1);
      },
      testing::ExitedWithCode(3), "");
}

TEST(ScopedInterruptDeathTest, FirstSignalSetsTheFlagSecondEndsTheProcess) {
  EXPECT_EXIT(
      {
        ScopedInterrupt::SetSameInstantWindow(0);  // every signal is a press of its own
        const ScopedInterrupt interrupt;
        raise(SIGTERM);
        if (!ScopedInterrupt::Flag()) _exit(1);
        raise(SIGINT);
        _exit(2);
      },
      testing::ExitedWithCode(130), "");
}

}  // namespace
}  // namespace objstore_host

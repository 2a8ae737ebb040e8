// The host program killed with SIGKILL in the middle of a backup: run again, it finds the job
// directory the dead run left, resends what is still in the disk cache through a restart thread,
// and every object ends committed and verified.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "HostTestTree.h"
#include "TestSupport.h"

namespace objstore_host {
namespace {

const int kFiles = 40;
const std::chrono::seconds kPatience(60);  // only reached when something is broken

int RunProgram(const std::vector<std::string>& args, const std::string& outputFile) {
  return WaitForExit(StartHostProgram(args, outputFile));
}

class KillAndRerunTest : public testing::Test {
 protected:
  std::vector<std::string> backupArgs() const {
    return {"backup",  "--cache",         dir_.sub("cache"), "--root", dir_.sub("root"),
            "--store", dir_.sub("store"), "--job-id",        "5",      "--no-progress",
            "--json"};
  }

  objstore_testing::TempDir dir_;
  objstore_testing::ScopedEnv settings_{"OBJSTORE_SETTINGS_FILE", dir_.sub("settings")};
  objstore_testing::ScopedEnv faults_{"OBJSTORE_PIPELINE_FAULTS", "", true};
};

TEST_F(KillAndRerunTest, EveryObjectIsCommittedAfterARerun) {
  ASSERT_TRUE(WriteTestTree(dir_.sub("src"), kFiles));
  ASSERT_EQ(0,
            RunProgram({"ingest", dir_.sub("src"), "--cache", dir_.sub("cache"), "--no-progress"},
                       dir_.sub("ingest.out")));
  ASSERT_EQ(kFiles, CountSegments(dir_.sub("cache")));

  // Slow commits keep the job running long enough to be killed between two of them.
  std::vector<std::string> slow = backupArgs();
  slow.insert(slow.end(), {"--commit-items", "4", "--faults", "commitDelay=300"});
  const pid_t backup = StartHostProgram(slow, dir_.sub("killed.out"));
  const std::chrono::steady_clock::time_point deadline =
      std::chrono::steady_clock::now() + kPatience;
  int left = kFiles;
  while ((left = CountSegments(dir_.sub("cache"))) == kFiles &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(backup, SIGKILL);
  ASSERT_EQ(128 + SIGKILL, WaitForExit(backup)) << "the backup ended before it could be killed";
  left = CountSegments(dir_.sub("cache"));  // the dead run may have removed more meanwhile
  ASSERT_GT(left, 0) << "every commit arrived before the kill";
  ASSERT_LT(left, kFiles) << "no commit arrived in time";
  ASSERT_TRUE(objstore_testing::PathExists(dir_.sub("root/OBJECTSTORE/5")));

  ASSERT_EQ(0, RunProgram(backupArgs(), dir_.sub("rerun.out")))
      << objstore_testing::ReadFile(dir_.sub("rerun.out"));
  const nlohmann::json rerun =
      nlohmann::json::parse(objstore_testing::ReadFile(dir_.sub("rerun.out")));
  EXPECT_TRUE(rerun["restart"]["restarted"].get<bool>());
  EXPECT_EQ(static_cast<uint64_t>(left), rerun["committed"].get<uint64_t>());
  EXPECT_EQ(0, CountSegments(dir_.sub("cache")));
  EXPECT_FALSE(objstore_testing::PathExists(dir_.sub("root/OBJECTSTORE/5")));

  EXPECT_EQ(0, RunProgram({"verify", "--store", dir_.sub("store"), "--source", dir_.sub("src"),
                           "--no-progress"},
                          dir_.sub("verify.out")))
      << objstore_testing::ReadFile(dir_.sub("verify.out"));
}

}  // namespace
}  // namespace objstore_host

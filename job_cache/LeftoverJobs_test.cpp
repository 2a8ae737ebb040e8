#include "LeftoverJobs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ObjectStoreJobInfo.h"
#include "ObjectStoreStatic.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

using objstore_testing::TempDir;
using objstore_testing::WriteFile;

class LeftoverJobsTest : public testing::Test {
 protected:
  void SetUp() override {
    savedRoot_ = ObjectStoreStatic::rootDir;
    ObjectStoreStatic::rootDir = tmp_.path();
  }
  void TearDown() override { ObjectStoreStatic::rootDir = savedRoot_; }

  // A job directory as a job start leaves it, with the default (empty) texts.
  void startJob(int64_t jobId, int32_t appId, uint32_t numStreams) {
    OBJECTOPSAPI::JobInfo info;
    info.jobId = jobId;
    info.appId = appId;
    info.numStreams = numStreams;
    ASSERT_TRUE(ObjStoreJobInfo(info).init());
  }

  TempDir tmp_;
  objstore_testing::ScopedLogCapture capture_{5};

 private:
  std::string savedRoot_;
};

TEST_F(LeftoverJobsTest, ListsEveryJobDirectoryWithWhatItsFileSays) {
  startJob(12, 55, 4);
  startJob(-3, 7, 1);  // a job id of 2^63 or more
  startJob(100, 2147483647, 2);
  ASSERT_EQ(0, mkdir(tmp_.sub("40").c_str(), 0700));  // no JOB_INFO
  // Not job directories: skipped without a word.
  ASSERT_EQ(0, mkdir(tmp_.sub("007").c_str(), 0700));
  ASSERT_EQ(0, mkdir(tmp_.sub("notes").c_str(), 0700));
  ASSERT_TRUE(WriteFile(tmp_.sub("77"), "a file"));
  ASSERT_EQ(0, symlink(tmp_.sub("12").c_str(), tmp_.sub("13").c_str()));

  std::vector<LeftoverJob> jobs = LeftoverJobs::List();
  ASSERT_EQ(4u, jobs.size());
  struct Expected {
    int64_t jobId;
    int32_t appId;
    uint32_t numStreams;
    bool problem;
  };
  const Expected expected[] = {
      {-3, 7, 1, false}, {12, 55, 4, false}, {40, 0, 0, true}, {100, 2147483647, 2, false}};
  for (size_t i = 0; i < jobs.size(); ++i) {
    SCOPED_TRACE(jobs[i].dir);
    EXPECT_EQ(expected[i].jobId, jobs[i].jobId);
    EXPECT_EQ(expected[i].appId, jobs[i].appId);
    EXPECT_EQ(expected[i].numStreams, jobs[i].numStreams);
    EXPECT_EQ(tmp_.sub(std::to_string(expected[i].jobId)), jobs[i].dir);
    EXPECT_EQ(expected[i].problem, !jobs[i].problem.empty()) << jobs[i].problem;
  }
  EXPECT_NE(std::string::npos, jobs[2].problem.find("is not present"));
}

TEST_F(LeftoverJobsTest, MalformedFileIsAProblemNotAWrongApplication) {
  ASSERT_EQ(0, mkdir(tmp_.sub("8").c_str(), 0700));
  ASSERT_TRUE(WriteFile(tmp_.sub("8/JOB_INFO"), "8\nx\n4\t1\n"));
  std::vector<LeftoverJob> jobs = LeftoverJobs::List(tmp_.path());
  ASSERT_EQ(1u, jobs.size());
  EXPECT_EQ(0, jobs[0].appId);
  EXPECT_NE(std::string::npos, jobs[0].problem.find("short or malformed")) << jobs[0].problem;
}

TEST_F(LeftoverJobsTest, MissingRootListsNothing) {
  EXPECT_TRUE(LeftoverJobs::List(tmp_.sub("missing")).empty());
  EXPECT_EQ(1u, capture_.log().countContaining("cannot list the root directory", -1));
}

}  // namespace
}  // namespace ObjectStore

#include "ObjectStoreJobInfo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "ObjectStoreStatic.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

using objstore_testing::ReadFile;
using objstore_testing::ScopedLogCapture;
using objstore_testing::TempDir;
using objstore_testing::WriteFile;

class JobCacheTest : public testing::Test {
 protected:
  void SetUp() override {
    savedRoot_ = ObjectStoreStatic::rootDir;
    ObjectStoreStatic::rootDir = tmp_.path();
  }
  void TearDown() override { ObjectStoreStatic::rootDir = savedRoot_; }

  static OBJECTOPSAPI::JobInfo Description(int64_t jobId) {
    OBJECTOPSAPI::JobInfo info;
    info.jobId = jobId;
    info.appId = 7;
    info.text1 = "t1";
    info.text2 = "t2";
    info.text3 = "t3";
    info.text4 = "t4";
    return info;
  }

  TempDir tmp_;
  ScopedLogCapture capture_{5};

 private:
  std::string savedRoot_;
};

TEST_F(JobCacheTest, InitRewritesJobInfoInTheJobDirectory) {
  ASSERT_EQ(0, mkdir(tmp_.sub("12345").c_str(), 0700));
  ASSERT_TRUE(WriteFile(tmp_.sub("12345/JOB_INFO"), std::string(500, 'x')));
  ObjStoreJobInfo job(Description(12345));
  EXPECT_TRUE(job.init());
  EXPECT_EQ(tmp_.sub("12345"), job.getBasePath());
  EXPECT_EQ("12345\nt1\n1\t1\t101\n2\t7\t0\n0\tt3\nt2\t0\nt4\n",
            ReadFile(tmp_.sub("12345/JOB_INFO")));
}

TEST_F(JobCacheTest, NumbersAreWrittenSigned) {
  OBJECTOPSAPI::JobInfo info = Description(INT64_MIN);  // a job id of 2^63
  info.appId = INT32_MIN;                               // an application id of 2^31
  ObjStoreJobInfo job(info);
  ASSERT_TRUE(job.init());
  EXPECT_EQ(tmp_.sub("-9223372036854775808"), job.getBasePath());
  EXPECT_EQ("-9223372036854775808\nt1\n1\t1\t101\n2\t-2147483648\t0\n0\tt3\nt2\t0\nt4\n",
            ReadFile(job.getBasePath() + "/JOB_INFO"));
}

TEST_F(JobCacheTest, LoadGivesBackWhatWasWrittenExceptIdAndFirstText) {
  OBJECTOPSAPI::JobInfo info = Description(99);
  info.numStreams = 4;
  info.attr1 = -3;
  info.attr3 = 5;
  info.attr4 = 6;
  info.attr5 = 8;
  info.attr6 = 9;
  info.attr7 = 10;
  info.attr2 = 77;  // not written
  ObjStoreJobInfo written(info);
  ASSERT_TRUE(written.init());

  ObjStoreJobInfo loaded(written.getBasePath());
  EXPECT_FALSE(loaded.loadFailed);
  EXPECT_EQ(written.getBasePath(), loaded.getBasePath());
  EXPECT_EQ(0, loaded.jobId);
  EXPECT_EQ("", loaded.text1);
  EXPECT_EQ(OBJECTOPSAPI::JobInfo().attr2, loaded.attr2);
  EXPECT_EQ(std::vector<int64_t>({4, -3, 10, 5, 7, 9, 8, 6}),
            std::vector<int64_t>({loaded.numStreams, loaded.attr1, loaded.attr7, loaded.attr3,
                                  loaded.appId, loaded.attr6, loaded.attr5, loaded.attr4}));
  EXPECT_EQ("t2 t3 t4", loaded.text2 + " " + loaded.text3 + " " + loaded.text4);
}

TEST_F(JobCacheTest, ShortFileLoadsWhatItHolds) {
  ASSERT_TRUE(WriteFile(tmp_.sub("JOB_INFO"), "5\nx\n3\tnot-a-number\n"));
  ObjStoreJobInfo loaded(tmp_.path());
  EXPECT_FALSE(loaded.loadFailed);
  EXPECT_EQ(3u, loaded.numStreams);
  EXPECT_EQ(OBJECTOPSAPI::JobInfo().attr1, loaded.attr1);
}

TEST_F(JobCacheTest, MissingFileFailsTheLoad) {
  ObjStoreJobInfo loaded(tmp_.path());
  EXPECT_TRUE(loaded.loadFailed);
  EXPECT_EQ("", loaded.getBasePath());
  EXPECT_EQ(1u, capture_.log().count("File [" + tmp_.sub("JOB_INFO") + "] is not present.", -1));
}

TEST_F(JobCacheTest, JobDirectoryThatCannotBeMadeFailsInit) {
  ASSERT_TRUE(WriteFile(tmp_.sub("file"), ""));
  ObjectStoreStatic::rootDir = tmp_.sub("file");
  ObjStoreJobInfo job(Description(1));
  EXPECT_FALSE(job.init());
  EXPECT_EQ(1u, capture_.log().count("Directory [" + tmp_.sub("file/1") + "] create failed", -1));
}

// Makes `path` an entry that can be created (opened read-only) but not opened for writing, even
// by root: a read-only file, or else a kernel attribute that has no write operation.
bool MakeUnwritable(const std::string& path) {
  if (!WriteFile(path, "") || chmod(path.c_str(), 0444) != 0) return false;
  int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return true;
  close(fd);
  if (unlink(path.c_str()) != 0 || symlink("/sys/kernel/address_bits", path.c_str()) != 0) {
    return false;
  }
  fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return access(path.c_str(), F_OK) == 0;
  close(fd);
  return false;
}

struct SaveFailure {
  const char* name;
  std::function<bool(const std::string&)> block;  // prepares the JOB_INFO path; false: skip
  size_t text1Size;
  const char* record;
};

void PrintTo(const SaveFailure& failure, std::ostream* out) {
  *out << failure.name;
}

class SaveFailureTest : public JobCacheTest, public testing::WithParamInterface<SaveFailure> {};

TEST_P(SaveFailureTest, ReportsTheFailureNamingTheFile) {
  const std::string file = tmp_.sub("42/JOB_INFO");
  ASSERT_EQ(0, mkdir(tmp_.sub("42").c_str(), 0700));
  if (!GetParam().block(file)) GTEST_SKIP() << "cannot set up the failure here";
  OBJECTOPSAPI::JobInfo info = Description(42);
  info.text1.assign(GetParam().text1Size, 'x');
  ObjStoreJobInfo job(info);
  EXPECT_FALSE(job.init());
  EXPECT_EQ(1u, capture_.log().countContaining(GetParam().record + ("[" + file + "]"), -1));
  EXPECT_EQ(1u, capture_.log().count("save JOB INFO to [" + file + "] file failed", -1));
}

bool DirectoryInTheWay(const std::string& path) {
  return mkdir(path.c_str(), 0700) == 0;
}
bool FullDisk(const std::string& path) {
  return symlink("/dev/full", path.c_str()) == 0;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SaveFailureTest,
    testing::Values(SaveFailure{"CreateFails", DirectoryInTheWay, 2, "File "},
                    SaveFailure{"OpenFails", MakeUnwritable, 2, "ERROR: Can't open file "},
                    SaveFailure{"WriteFails", FullDisk, 1 << 20, "ERROR: Can't write file "},
                    SaveFailure{"CloseFails", FullDisk, 2, "ERROR: Can't close file "}),
    [](const testing::TestParamInfo<SaveFailure>& info) { return info.param.name; });

}  // namespace
}  // namespace ObjectStore

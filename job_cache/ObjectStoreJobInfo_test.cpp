#include "ObjectStoreJobInfo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

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

  OBJECTOPSAPI::JobInfo info = Description(INT64_MIN);  // a job id of 2^63
  info.appId = INT32_MIN;                               // an application id of 2^31
  ObjStoreJobInfo large(info);
  ASSERT_TRUE(large.init());
  EXPECT_EQ("-9223372036854775808\nt1\n1\t1\t101\n2\t-2147483648\t0\n0\tt3\nt2\t0\nt4\n",
            ReadFile(tmp_.sub("-9223372036854775808/JOB_INFO")));
}

TEST_F(JobCacheTest, LoadGivesBackWhatWasWrittenExceptIdAndFirstText) {
  OBJECTOPSAPI::JobInfo info = Description(99);
  info.numStreams = 4;
  info.attr1 = -3;
  info.attr2 = 77;  // not written
  info.attr3 = 5;
  info.attr4 = 6;
  info.attr5 = 8;
  info.attr6 = 9;
  info.attr7 = 10;
  ObjStoreJobInfo written(info);
  ASSERT_TRUE(written.init());
  const std::string text = ReadFile(tmp_.sub("99/JOB_INFO"));

  ObjStoreJobInfo loaded(tmp_.sub("99"));
  EXPECT_FALSE(loaded.loadFailed);
  EXPECT_EQ(tmp_.sub("99"), loaded.getBasePath());
  EXPECT_EQ(0, loaded.jobId);
  EXPECT_EQ("", loaded.text1);
  EXPECT_EQ(OBJECTOPSAPI::JobInfo().attr2, loaded.attr2);
  loaded.jobId = 99;
  loaded.text1 = "t1";
  ASSERT_TRUE(loaded.init());  // every other field must write back as it was read
  EXPECT_EQ(text, ReadFile(tmp_.sub("99/JOB_INFO")));
}

// What a file holds is read back field for field, whatever its texts hold (but line feeds), and
// a file of whitespace-separated fields written by hand still reads.
struct RoundTrip {
  const char* name;
  const char* text2;
  const char* text3;
  const char* text4;
};

class JobInfoRoundTripTest : public JobCacheTest, public testing::WithParamInterface<RoundTrip> {};

TEST_P(JobInfoRoundTripTest, EveryWrittenFieldComesBack) {
  OBJECTOPSAPI::JobInfo info = Description(55);
  info.text1 = "";
  info.text2 = GetParam().text2;
  info.text3 = GetParam().text3;
  info.text4 = GetParam().text4;
  info.appId = 55;
  info.numStreams = 4;
  info.attr4 = -4;
  info.attr5 = 5;
  ObjStoreJobInfo written(info);
  ASSERT_TRUE(written.init());
  ObjStoreJobInfo loaded(tmp_.sub("55"));
  ASSERT_FALSE(loaded.loadFailed);
  EXPECT_EQ(55, loaded.appId);
  EXPECT_EQ(4u, loaded.numStreams);
  EXPECT_EQ(info.text2, loaded.text2);
  EXPECT_EQ(info.text3, loaded.text3);
  EXPECT_EQ(info.text4, loaded.text4);
  EXPECT_EQ(-4, loaded.attr4);
  EXPECT_EQ(5, loaded.attr5);
  EXPECT_EQ(0u, capture_.log().countContaining("short or malformed"));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JobInfoRoundTripTest,
    testing::Values(RoundTrip{"AllEmpty", "", "", ""}, RoundTrip{"Blanks", "a b", " c ", "d  e"},
                    RoundTrip{"Tabs", "x\ty", "\tz", "w\t"}, RoundTrip{"Plain", "t2", "t3", "t4"}),
    [](const testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

TEST_F(JobCacheTest, WhitespaceSeparatedFileStillReads) {
  ASSERT_EQ(0, mkdir(tmp_.sub("9").c_str(), 0700));
  ASSERT_TRUE(
      WriteFile(tmp_.sub("9/JOB_INFO"), "9 first 3 1 101\n2 77 0 0 third second 0 fourth\n"));
  ObjStoreJobInfo loaded(tmp_.sub("9"));
  ASSERT_FALSE(loaded.loadFailed);
  EXPECT_EQ(77, loaded.appId);
  EXPECT_EQ(3u, loaded.numStreams);
  EXPECT_EQ("second", loaded.text2);
  EXPECT_EQ("fourth", loaded.text4);
}

// A JOB_INFO that is not a regular file of a few lines is refused without being read: no wait
// on a FIFO, no reading of a device, no allocation beyond the limit.
struct HostileFile {
  const char* name;
  std::function<bool(const std::string&)> make;  // false: cannot be set up here
  const char* problem;
};

class HostileJobInfoTest : public JobCacheTest, public testing::WithParamInterface<HostileFile> {};

TEST_P(HostileJobInfoTest, IsRefusedWithAReason) {
  ASSERT_EQ(0, mkdir(tmp_.sub("5").c_str(), 0700));
  if (!GetParam().make(tmp_.sub("5/JOB_INFO"))) GTEST_SKIP() << "cannot set up the file here";
  ObjStoreJobInfo loaded{OBJECTOPSAPI::JobInfo()};
  std::string problem;
  EXPECT_FALSE(loaded.loadInfoFromDisk(tmp_.sub("5"), &problem));
  EXPECT_NE(std::string::npos, problem.find(GetParam().problem)) << problem;
  EXPECT_EQ(1u, capture_.log().countContaining(GetParam().problem, -1));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileJobInfoTest,
    testing::Values(
        HostileFile{"Fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; },
                    "is not a regular file"},
        HostileFile{"LinkToZero",
                    [](const std::string& p) { return symlink("/dev/zero", p.c_str()) == 0; },
                    "cannot be opened"},
        HostileFile{"Directory", [](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; },
                    "is not a regular file"},
        HostileFile{"SparseHuge",
                    [](const std::string& p) {
                      return WriteFile(p, "1\n") && truncate(p.c_str(), 6LL << 30) == 0;
                    },
                    "more than a job file can"}),
    [](const testing::TestParamInfo<HostileFile>& info) { return info.param.name; });

TEST_F(JobCacheTest, MissingFileFailsTheLoad) {
  ObjStoreJobInfo loaded(tmp_.path());
  EXPECT_TRUE(loaded.loadFailed);
  EXPECT_EQ("", loaded.getBasePath());
  EXPECT_EQ(1u, capture_.log().count("File [" + tmp_.sub("JOB_INFO") + "] is not present.", -1));
}

TEST_F(JobCacheTest, SavingBeforeInitWritesNothing) {
  EXPECT_FALSE(ObjStoreJobInfo(Description(1)).saveInfoOnDisk());
  EXPECT_EQ(1u, capture_.log().countContaining("No job directory set", -1));
}

TEST_F(JobCacheTest, JobDirectoryThatCannotBeMadeFailsInit) {
  ASSERT_TRUE(WriteFile(tmp_.sub("file"), ""));
  ObjectStoreStatic::rootDir = tmp_.sub("file");
  ObjStoreJobInfo job(Description(1));
  EXPECT_FALSE(job.init());
  EXPECT_EQ(1u, capture_.log().count("Directory [" + tmp_.sub("file/1") + "] create failed", -1));
}

// An entry that opens for reading but not for writing, even for root: a kernel attribute that
// has no write operation.
bool ReadOnlyAttribute(const std::string& path) {
  const char kAttribute[] = "/sys/kernel/address_bits";
  int fd = open(kAttribute, O_WRONLY);
  if (fd >= 0) close(fd);
  return fd < 0 && access(kAttribute, R_OK) == 0 && symlink(kAttribute, path.c_str()) == 0;
}

struct SaveFailure {
  const char* name;
  std::function<bool(const std::string&)> block;  // prepares the JOB_INFO path; false: skip
  size_t text1Size;
  const char* record;
};

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
                    SaveFailure{"OpenFails", ReadOnlyAttribute, 2, "ERROR: Can't open file "},
                    SaveFailure{"WriteFails", FullDisk, 1 << 20, "ERROR: Can't write file "},
                    SaveFailure{"CloseFails", FullDisk, 2, "ERROR: Can't close file "}),
    [](const testing::TestParamInfo<SaveFailure>& info) { return info.param.name; });

}  // namespace
}  // namespace ObjectStore

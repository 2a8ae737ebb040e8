#include "CommitSampler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace objstore_load {
namespace {

namespace fs = std::filesystem;

class CommitSamplerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("commit-sampler-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const std::string& run, const std::string& file, const std::string& text) {
    fs::create_directories(dir_ / run);
    std::ofstream(dir_ / run / file) << text;
  }
  fs::path dir_;
};

TEST_F(CommitSamplerTest, ReadsEveryStreamOfEveryRunOfTheJob) {
  write("7.aaa", "stream-2.data", "");
  write("7.aaa", "stream-2.committed", "15\n");
  write("7.bbb", "stream-4.data", "");
  write("7.bbb", "stream-4.committed", "3\n");
  write("7.bbb", "stream-5.data", "");          // no commit yet
  write("7.bbb", "stream-6.committed", "8\n");  // no data file: not a stream
  write("7.ccc", "stream-9.data", "");
  write("7.ccc", "stream-9.committed", "");  // being replaced
  write("70.ddd", "stream-2.data", "");
  write("70.ddd", "stream-2.committed", "99\n");
  write("17.eee", "stream-2.data", "");
  write("17.eee", "stream-2.committed", "99\n");
  CommitSampler sampler(dir_.string());
  const std::map<std::string, uint64_t> expected{{"aaa/2", 15}, {"bbb/4", 3}};
  EXPECT_EQ(sampler.committedCounts(7), expected);
  EXPECT_TRUE(sampler.committedCounts(8).empty());
  EXPECT_TRUE(CommitSampler((dir_ / "missing").string()).committedCounts(7).empty());
}

}  // namespace
}  // namespace objstore_load

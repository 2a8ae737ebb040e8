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

TEST_F(CommitSamplerTest, ReadsTheStreamOfEveryRunOfTheJob) {
  write("7.aaa", "stream-2.committed", "15\n");
  write("7.bbb", "stream-2.committed", "3\n");
  write("7.bbb", "stream-1.committed", "99\n");
  write("70.ccc", "stream-2.committed", "99\n");
  write("17.ddd", "stream-2.committed", "99\n");
  write("7.eee", "stream-2.committed", "");  // not written yet
  CommitSampler sampler(dir_.string());
  const std::map<std::string, uint64_t> expected{{"aaa", 15}, {"bbb", 3}};
  EXPECT_EQ(sampler.committedCounts(7, 2), expected);
  EXPECT_TRUE(sampler.committedCounts(7, 3).empty());
  EXPECT_TRUE(sampler.committedCounts(8, 2).empty());
  EXPECT_TRUE(CommitSampler((dir_ / "missing").string()).committedCounts(7, 2).empty());
}

}  // namespace
}  // namespace objstore_load

// A store's files are read only when they are regular files, and never beyond their kind's
// bound: a FIFO does not block the reader, a link to a device is not followed, and a sparse file
// of gigabytes is refused before any byte of it is read.
#include "StoreIo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "PipelineErrors.h"
#include "TestSupport.h"

namespace OBJECTOPSAPI {
namespace {

struct HostileFile {
  const char* name;
  std::function<void(const std::string& path)> make;
  uint32_t code;
  const char* message;  // part of the error's text
};

const HostileFile kHostileFiles[] = {
    {"LinkToDevZero", [](const std::string& p) { ASSERT_EQ(0, ::symlink("/dev/zero", p.c_str())); },
     kPipelineBadStore, "is a symbolic link"},
    {"LinkToRegularFile",
     [](const std::string& p) {
       ASSERT_TRUE(objstore_testing::WriteFile(p + ".real", "12\n"));
       ASSERT_EQ(0, ::symlink((p + ".real").c_str(), p.c_str()));
     },
     kPipelineBadStore, "is a symbolic link"},
    {"Fifo", [](const std::string& p) { ASSERT_EQ(0, ::mkfifo(p.c_str(), 0600)); },
     kPipelineBadStore, "is a FIFO"},
    {"Directory", [](const std::string& p) { ASSERT_EQ(0, ::mkdir(p.c_str(), 0700)); },
     kPipelineBadStore, "is a directory"},
    {"SparseSixGigabytes",
     [](const std::string& p) {
       ASSERT_TRUE(objstore_testing::WriteFile(p, "1"));
       ASSERT_EQ(0, ::truncate(p.c_str(), 6ll << 30));
     },
     kPipelineBadStore, "holds 6442450944 bytes, more than the 32"},
    {"Missing", [](const std::string&) {}, kPipelineIoError, "No such file"},
};

class StoreIoHostileTest : public testing::TestWithParam<HostileFile> {};

TEST_P(StoreIoHostileTest, IsRefusedWithoutReadingIt) {
  objstore_testing::TempDir dir;
  const std::string path = dir.sub("file");
  GetParam().make(path);
  std::string content = "left over";
  const CUxError error = StoreIo::ReadWholeFile(path, &content, 32);
  ASSERT_TRUE(error.IsError());
  EXPECT_EQ(GetParam().code, error.GetErrorCode());
  EXPECT_NE(std::string::npos, error.GetMessage().find(GetParam().message)) << error.GetMessage();
  EXPECT_NE(std::string::npos, error.GetMessage().find(path)) << error.GetMessage();
}

INSTANTIATE_TEST_SUITE_P(Files, StoreIoHostileTest, testing::ValuesIn(kHostileFiles),
                         [](const testing::TestParamInfo<HostileFile>& info) {
                           return std::string(info.param.name);
                         });

TEST(StoreIoTest, ADeviceNamedDirectlyIsRefused) {
  std::string content;
  const CUxError error = StoreIo::ReadWholeFile("/dev/zero", &content, 32);
  ASSERT_TRUE(error.IsError());
  EXPECT_NE(std::string::npos, error.GetMessage().find("is a device")) << error.GetMessage();
}

TEST(StoreIoTest, AFileUpToTheBoundIsReadWhole) {
  objstore_testing::TempDir dir;
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("f"), std::string(32, 'x')));
  std::string content;
  ASSERT_FALSE(StoreIo::ReadWholeFile(dir.sub("f"), &content, 32).IsError());
  EXPECT_EQ(std::string(32, 'x'), content);
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("f"), std::string(33, 'x')));
  EXPECT_TRUE(StoreIo::ReadWholeFile(dir.sub("f"), &content, 32).IsError());
}

}  // namespace
}  // namespace OBJECTOPSAPI

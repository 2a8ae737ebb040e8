#include <gtest/gtest.h>

#include <cstring>

#include "JobInfo.h"
#include "MakeCXFileHeader.h"
#include "PipelineConfiurator.h"

namespace OBJECTOPSAPI {
namespace {

TEST(JobInfoTest, CopyKeepsEveryFieldButTheFlagsAndTheConfigurator) {
  JobInfo original;
  original.numStreams = 4;
  original.attr1 = 11;
  original.text1 = "t1";
  original.jobId = -12345;
  original.attr2 = 12;
  original.appId = 9;
  original.attr3 = 13;
  original.attr4 = 14;
  original.attr5 = 15;
  original.text2 = "t2";
  original.text3 = "t3";
  original.text4 = "t4";
  original.attr6 = 16;
  original.attr7 = 17;
  original.enableCommitCallBack = original.flag2 = original.flag3 = true;
  original.pipelineConfigurator.reset(new PipelineConfiurator());

  JobInfo copy(original);
  EXPECT_EQ(4u, copy.numStreams);
  EXPECT_EQ(11, copy.attr1);
  EXPECT_EQ("t1", copy.text1);
  EXPECT_EQ(-12345, copy.jobId);
  EXPECT_EQ(12, copy.attr2);
  EXPECT_EQ(9, copy.appId);
  EXPECT_EQ(13, copy.attr3);
  EXPECT_EQ(14, copy.attr4);
  EXPECT_EQ(15, copy.attr5);
  EXPECT_EQ("t2", copy.text2);
  EXPECT_EQ("t3", copy.text3);
  EXPECT_EQ("t4", copy.text4);
  EXPECT_EQ(16, copy.attr6);
  EXPECT_EQ(17, copy.attr7);
  EXPECT_FALSE(copy.enableCommitCallBack);
  EXPECT_FALSE(copy.flag2);
  EXPECT_FALSE(copy.flag3);
  EXPECT_FALSE(copy.pipelineConfigurator);
}

TEST(JobInfoTest, BaseConfiguratorSucceedsAndChangesNothing) {
  PipelineConfiurator configurator;
  SetupPipelineArgs_t setup;
  setup.extraSetting = 5;
  CreateArgs_t create;
  create.archiveFlags = 1;
  EXPECT_FALSE(configurator.configurePipelineArguments(&setup, FVBasePtr()).IsError());
  EXPECT_FALSE(configurator.configureArchiveArguments(&create, FVBasePtr()).IsError());
  EXPECT_EQ(nullptr, setup.extraConfig);
  EXPECT_EQ(5u, setup.extraSetting);
  EXPECT_EQ(1u, create.archiveFlags);
}

TEST(CXFileHeaderTest, NamesTwoIdentifiersWithTheCommaAtByte172) {
  struct Case {
    std::string id1, id2, expected;
  } cases[] = {
      {std::string(40, 'a'), std::string(40, 'b'),
       std::string(40, 'a') + "," + std::string(40, 'b')},
      {"short", "x", "short" + std::string(35, '-') + ",x"},
      {std::string(50, 'a'), std::string(50, 'b'),
       std::string(40, 'a') + "," + std::string(40, 'b')},
      {"", "", std::string(40, '-') + ","},
  };
  for (const Case& c : cases) {
    CXFileHeader header = MakeCXFileHeader(c.id1, c.id2);
    const char* bytes = reinterpret_cast<const char*>(&header);
    EXPECT_EQ(',', bytes[kCXFileHeaderCommaOffset]);
    EXPECT_EQ(c.expected, std::string(bytes + kCXFileHeaderFilenameOffset)) << c.id1;
    EXPECT_EQ(0, std::memcmp(header.h_magic, "CXHDR01", 8));
  }
}

}  // namespace
}  // namespace OBJECTOPSAPI

#include "KAPlatformInfo.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

using objstore_testing::ReadFile;
using objstore_testing::ScopedEnv;
using objstore_testing::ScopedLogCapture;
using objstore_testing::TempDir;
using objstore_testing::WriteFile;

class KAPlatformInfoTest : public testing::Test {
 protected:
  KAPlatformInfoTest() : file_("OBJSTORE_SETTINGS_FILE", dir_.sub("conf/settings")) {}
  std::string path() const { return dir_.sub("conf/settings"); }

  TempDir dir_;
  ScopedEnv file_;
};

TEST_F(KAPlatformInfoTest, ValuesPersistAcrossObjectsWithTheirTypes) {
  {
    KAPlatformInfo writer;
    ASSERT_TRUE(writer.setValue("OBJECTSTORE", "sOBJECTSTORERootDir", "/data"));
    ASSERT_TRUE(writer.setDirectory("Machines\\host1", "dJOBRESULTSDIR", "/jr"));
    ASSERT_TRUE(writer.setNumber("FileSystemAgent", "TotalBytes", 0x100000002ull));
    ASSERT_TRUE(writer.createRegKey("~OBJECTSTORE"));
  }
  KAPlatformInfo reader;
  std::string text = "unchanged";
  unsigned long long wide = 0;
  unsigned int narrow = 0;
  EXPECT_TRUE(reader.getString("OBJECTSTORE", "sOBJECTSTORERootDir", &text));
  EXPECT_EQ("/data", text);
  EXPECT_TRUE(reader.getDirectory("Machines\\host1", "dJOBRESULTSDIR", &text));
  EXPECT_EQ("/jr", text);
  EXPECT_TRUE(reader.getLongLong("FileSystemAgent", "TotalBytes", &wide));
  EXPECT_EQ(0x100000002ull, wide);
  EXPECT_TRUE(reader.getNumber("FileSystemAgent", "TotalBytes", &narrow));
  EXPECT_EQ(2u, narrow);
  EXPECT_TRUE(reader.keyExists("~OBJECTSTORE"));
  EXPECT_TRUE(reader.keyExists("Machines\\host1"));
  EXPECT_FALSE(reader.keyExists("Machines"));

  // Each reader finds only its own type; a miss leaves the output alone.
  text = "unchanged";
  EXPECT_FALSE(reader.getString("Machines\\host1", "dJOBRESULTSDIR", &text));
  EXPECT_FALSE(reader.getDirectory("OBJECTSTORE", "sOBJECTSTORERootDir", &text));
  EXPECT_FALSE(reader.getString("FileSystemAgent", "TotalBytes", &text));
  EXPECT_FALSE(reader.getLongLong("OBJECTSTORE", "sOBJECTSTORERootDir", &wide));
  EXPECT_FALSE(reader.getString("~OBJECTSTORE", "", &text));
  EXPECT_EQ("unchanged", text);
}

TEST_F(KAPlatformInfoTest, MissingFileReadsAsEmpty) {
  KAPlatformInfo info;
  std::string text;
  EXPECT_FALSE(info.getString("OBJECTSTORE", "sOBJECTSTORERootDir", &text));
  EXPECT_FALSE(info.keyExists("OBJECTSTORE"));
}

TEST_F(KAPlatformInfoTest, AwkwardTextRoundTripsOnOneLine) {
  const std::string key = "Machines\\host\\\tx", name = "a\\n", data = "line1\nline2\r\\end";
  ASSERT_TRUE(KAPlatformInfo().setValue(key, name, data));
  std::string text;
  EXPECT_TRUE(KAPlatformInfo().getString(key.c_str(), name.c_str(), &text));
  EXPECT_EQ(data, text);
  std::string file = ReadFile(path());
  EXPECT_EQ(2, std::count(file.begin(), file.end(), '\n')) << file;  // comment + one value
}

TEST_F(KAPlatformInfoTest, MalformedLinesAreSkippedWithAWarning) {
  ASSERT_TRUE(KAPlatformInfo().createRegKey("seed"));  // creates the directory
  ASSERT_TRUE(WriteFile(path(),
                        "text\tgood\tfirst\tone\n"
                        "text\tonly three\tfields\n"
                        "colour\tk\tv\tred\n"
                        "text\tk\tv\tbad \\q escape\n"
                        "number\tk\tv\t12x\n"
                        "\n"
                        "# a comment\n"
                        "number\tgood\tsecond\t42\n"));
  ScopedLogCapture capture;
  KAPlatformInfo info;
  std::string text;
  unsigned long number = 0;
  EXPECT_TRUE(info.getString("good", "first", &text));
  EXPECT_TRUE(info.getNumber("good", "second", &number));
  EXPECT_EQ(42ul, number);
  EXPECT_FALSE(info.keyExists("k"));
  EXPECT_EQ(4u, capture.log().countContaining("[" + path() + "] line [", -1));
  for (int line = 2; line <= 5; ++line) {
    EXPECT_EQ(1u, capture.log().countContaining("line [" + std::to_string(line) + "]", -1));
  }
}

TEST_F(KAPlatformInfoTest, ObjectsWritingDifferentValuesKeepEachOthers) {
  KAPlatformInfo first, second;  // both read the file before either writes
  ASSERT_TRUE(first.setValue("a", "x", "1"));
  ASSERT_TRUE(second.setValue("b", "y", "2"));
  KAPlatformInfo reader;
  EXPECT_TRUE(reader.getString("a", "x", nullptr));
  EXPECT_TRUE(reader.getString("b", "y", nullptr));
}

TEST_F(KAPlatformInfoTest, ConcurrentWritersLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 10; ++i) {
        KAPlatformInfo info;
        info.setNumber("thread" + std::to_string(t), "n" + std::to_string(i), i);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  KAPlatformInfo reader;
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 10; ++i) {
      unsigned long long value = 99;
      std::string key = "thread" + std::to_string(t), name = "n" + std::to_string(i);
      ASSERT_TRUE(reader.getLongLong(key.c_str(), name.c_str(), &value)) << key << " " << name;
      EXPECT_EQ(static_cast<unsigned long long>(i), value);
    }
  }
  // Every rewrite renamed its temporary file away.
  DIR* dir = opendir(dir_.sub("conf").c_str());
  ASSERT_NE(nullptr, dir);
  int entries = 0;
  while (struct dirent* entry = readdir(dir)) entries += entry->d_name[0] != '.';
  closedir(dir);
  EXPECT_EQ(1, entries);
}

TEST_F(KAPlatformInfoTest, DeleteValueKeepsTheKey) {
  KAPlatformInfo info;
  ASSERT_TRUE(info.setValue("k", "v", "1"));
  EXPECT_TRUE(info.deleteValue("k", "v"));
  EXPECT_FALSE(info.deleteValue("k", "v"));
  KAPlatformInfo reader;
  EXPECT_FALSE(reader.getString("k", "v", nullptr));
  EXPECT_TRUE(reader.keyExists("k"));
}

TEST_F(KAPlatformInfoTest, FailedWriteReportsFailureAndKeepsTheFile) {
  ASSERT_TRUE(KAPlatformInfo().setValue("k", "v", "old"));
  std::string before = ReadFile(path());
  ScopedEnv blocked("OBJSTORE_SETTINGS_FILE", path() + "/below-a-file");
  ScopedLogCapture capture;
  EXPECT_FALSE(KAPlatformInfo().setValue("k", "v", "new"));
  EXPECT_EQ(before, ReadFile(path()));
  EXPECT_EQ(0, KAPlatformInfo().setValue("", "v", "no key"));
}

}  // namespace

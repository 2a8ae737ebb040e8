#include "LogWriter.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

using objstore_testing::ReadFile;
using objstore_testing::ScopedEnv;
using objstore_testing::ScopedLogCapture;
using objstore_testing::TempDir;

const char kLinePattern[] =
    R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] \[-?\d+\] .+ \(\d+\) .*)";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LogWriterTest, WritesOnlyRecordsAtOrBelowTheLevel) {
  ScopedLogCapture capture(2);
  int formatted = 0;
  OBJSTORE_LOG(-1, "error %d", 1);
  OBJSTORE_LOG(2, "detail %d", 2);
  OBJSTORE_LOG(3, "more %d", ++formatted);  // never formatted, so never evaluated
  ASSERT_EQ(2u, capture.log().records().size());
  EXPECT_EQ(1u, capture.log().count("error 1", -1));
  EXPECT_EQ(1u, capture.log().count("detail 2", 2));
  EXPECT_EQ(0, formatted);
  EXPECT_NE(std::string::npos, capture.log().records()[0].function.find(
                                   "LogWriterTest_WritesOnlyRecordsAtOrBelowTheLevel_Test"));
}

TEST(LogWriterTest, NullWriterLogsNothing) {
  CLogWriterInterfacePtr previous = g_ptrLogWriter;
  g_ptrLogWriter.reset();
  OBJSTORE_LOG(-1, "nobody hears %s", "this");
  g_ptrLogWriter = previous;
}

TEST(LogWriterTest, DefaultWriterAppendsWholeLinesToTheLogFile) {
  TempDir dir;
  std::string path = dir.sub("objstore.log");
  ASSERT_TRUE(objstore_testing::WriteFile(path, "earlier line\n"));
  ScopedEnv file("OBJSTORE_LOG_FILE", path);
  ScopedEnv level("OBJSTORE_LOG_LEVEL", "2");
  CLogWriterInterfacePtr writer = MakeDefaultLogWriter();
  EXPECT_EQ(2, writer->getLevel());

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&writer, t] {
      for (int i = 0; i < 100; ++i) writer->write(2, "void Worker()", 7, 0, 0, "t%d i%d", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  writer.reset();

  std::vector<std::string> lines = Lines(ReadFile(path));
  ASSERT_EQ(401u, lines.size());
  EXPECT_EQ("earlier line", lines[0]);
  const std::regex pattern(kLinePattern);
  for (size_t i = 1; i < lines.size(); ++i) {
    ASSERT_TRUE(std::regex_match(lines[i], pattern)) << lines[i];
    ASSERT_NE(std::string::npos, lines[i].find(" [2] void Worker() (7) t")) << lines[i];
  }
}

TEST(LogWriterTest, LevelComesFromTheEnvironment) {
  struct Case {
    const char* value;
    int level;
  } cases[] = {{nullptr, 1}, {"", 1}, {"4", 4}, {"-1", -1}, {"loud", 1}, {"3x", 1}};
  for (const Case& c : cases) {
    ScopedEnv level("OBJSTORE_LOG_LEVEL", c.value != nullptr ? c.value : "", c.value == nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.level, MakeDefaultLogWriter()->getLevel()) << (c.value ? c.value : "unset");
    testing::internal::GetCapturedStderr();
  }
}

TEST(LogWriterTest, UnopenableFileFallsBackToStandardError) {
  TempDir dir;
  ScopedEnv file("OBJSTORE_LOG_FILE", dir.sub("missing/objstore.log"));
  testing::internal::CaptureStderr();
  CLogWriterInterfacePtr writer = MakeDefaultLogWriter();
  writer->write(-1, "int main()", 3, 0, 0, "ERROR: %s", "shown");
  std::string text = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, text.find("cannot open log file"));
  EXPECT_NE(std::string::npos, text.find("[-1] int main() (3) ERROR: shown\n"));
}

}  // namespace

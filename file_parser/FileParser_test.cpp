#include "FileParser.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

// One record as the file holds it: type, kind and length, little-endian, then the payload.
std::string Record(uint32_t type, uint32_t kind, const std::string& payload) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(type >> (8 * i)));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(kind >> (8 * i)));
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(uint64_t{payload.size()} >> (8 * i)));
  return out + payload;
}

class FileParserTest : public ::testing::Test {
 protected:
  objstore_testing::TempDir dir;
  objstore_testing::ScopedLogCapture capture;
  std::string path = dir.sub("records");
  FileParser parser{path};
};

TEST_F(FileParserTest, WritesEachRecordTypeInLayout) {
  const std::string header = "0123456789", meta(300, 'm');
  EXPECT_TRUE(parser.putCXHeader(header.data(), header.size()));
  EXPECT_EQ(objstore_testing::ReadFile(path).size(), 26u);
  EXPECT_TRUE(parser.putMetaData(meta.data(), meta.size(), -2));
  EXPECT_TRUE(parser.putData("d", 1, 0x01020304));
  EXPECT_TRUE(parser.putData(nullptr, 0, 7));
  EXPECT_TRUE(parser.putFileType(FILE_TYPE_SYMLINK));
  EXPECT_EQ(objstore_testing::ReadFile(path), Record(0, 0, header) + Record(2, 0xfffffffe, meta) +
                                                  Record(1, 0x01020304, "d") + Record(1, 7, "") +
                                                  Record(3, 3, ""));
  EXPECT_TRUE(capture.log().records().empty());
}

TEST_F(FileParserTest, FailuresWriteNothing) {
  EXPECT_FALSE(FileParser(dir.sub("missing/records")).putFileType(FILE_TYPE_REGULAR));
  EXPECT_TRUE(capture.log().records().empty());  // a failed open is silent
  EXPECT_FALSE(parser.putData(nullptr, 4, 1));
  EXPECT_EQ(objstore_testing::ReadFile(path), "");
  FileParser full("/dev/full");
  for (int call = 0; call < 2; ++call) EXPECT_FALSE(full.putFileType(FILE_TYPE_REGULAR));
  EXPECT_EQ(
      capture.log().count("ERROR: failed to write to the file [/dev/full]. Error code [28]", -1),
      2u);
}

TEST_F(FileParserTest, FailedWriteCutsPartialRecordAndNextCallOpensAfresh) {
  ASSERT_TRUE(parser.putFileType(FILE_TYPE_REGULAR));
  const std::string payload(100, 'p');
  rlimit saved, lowered;
  getrlimit(RLIMIT_FSIZE, &saved);
  lowered = saved;
  lowered.rlim_cur = 40;  // the next header fits, its payload does not
  sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &lowered);
  EXPECT_FALSE(parser.putData(payload.data(), payload.size(), 5));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(
      capture.log().count("ERROR: failed to write to the file [" + path + "]. Error code [27]", -1),
      1u);
  EXPECT_EQ(objstore_testing::ReadFile(path), Record(3, 1, ""));
  EXPECT_TRUE(parser.putData(payload.data(), payload.size(), 5));
  EXPECT_EQ(objstore_testing::ReadFile(path), Record(3, 1, "") + Record(1, 5, payload));
}

TEST_F(FileParserTest, ConcurrentWritersProduceWholeRecords) {
  const int kThreads = 4, kRecords = 50;
  auto payloadOf = [](uint32_t t) {
    return std::string(100 + t * 1000, static_cast<char>('a' + t));
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string payload = payloadOf(t);
      for (int i = 0; i < kRecords; ++i) parser.putData(payload.data(), payload.size(), t);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::string content = objstore_testing::ReadFile(path);
  std::vector<int> counts(kThreads, 0);
  for (size_t at = 0; at < content.size();) {
    ASSERT_LE(at + 16, content.size());
    uint32_t kind = static_cast<unsigned char>(content[at + 4]);
    ASSERT_LT(kind, static_cast<uint32_t>(kThreads));
    std::string record = Record(1, kind, payloadOf(kind));
    ASSERT_EQ(content.compare(at, record.size(), record), 0) << "record at " << at;
    ++counts[kind];
    at += record.size();
  }
  EXPECT_EQ(counts, std::vector<int>(kThreads, kRecords));
}

}  // namespace

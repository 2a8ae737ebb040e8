#include "ObjectStoreStreamInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "KAPlatformInfo.h"
#include "KaCriticalSectionLock.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

using objstore_testing::PathExists;
using objstore_testing::ScopedEnv;
using objstore_testing::ScopedLogCapture;
using objstore_testing::TempDir;
using objstore_testing::WriteFile;

std::string Join(const std::list<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) joined += item;
  return joined;
}

void AddEach(StreamInfo& stream, const std::string& letters) {
  for (char c : letters) stream.addFilePath(std::string(1, c));
}

// One step on a stream of single-letter items: add letters, hand every item back, or commit.
struct Step {
  enum Op { kAdd, kHandBack, kCommit } op;
  std::string arg;        // letters to add, or the sequence number text
  bool accepted;          // commit result
  std::string released;   // letters the commit yields, oldest first
  int64_t previousAfter;  // previousSequenceNumber after the step
};

Step Add(const std::string& letters) {
  return Step{Step::kAdd, letters, true, "", 0};
}
Step HandBack() {
  return Step{Step::kHandBack, "", true, "", 0};
}
Step Commit(const std::string& number, bool accepted, const std::string& released,
            int64_t previousAfter) {
  return Step{Step::kCommit, number, accepted, released, previousAfter};
}

struct Scenario {
  const char* name;
  std::vector<Step> steps;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

class CommitSequenceTest : public testing::TestWithParam<Scenario> {};

TEST_P(CommitSequenceTest, ReleasesTheItemsEachNumberNewlyCovers) {
  StreamInfo stream(1, "/nonexistent");
  for (const Step& step : GetParam().steps) {
    std::list<std::string> out{"#"};  // earlier content stays in front
    if (step.op == Step::kAdd) AddEach(stream, step.arg);
    if (step.op == Step::kHandBack) {
      stream.getAllItem(out);
      stream.removeAll();
    }
    if (step.op != Step::kCommit) continue;
    std::string number = step.arg;
    EXPECT_EQ(step.accepted, stream.getCommitGUIDList(number, out)) << step.arg;
    EXPECT_EQ("#" + step.released, Join(out)) << step.arg;
    EXPECT_EQ(step.previousAfter, stream.getPreviousSequenceNumber()) << step.arg;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CommitSequenceTest,
    testing::Values(Scenario{"InOrder",
                             {Add("PQRST"), Commit("3", true, "PQR", 3), Commit("5", true, "ST", 5),
                              Commit("5", true, "", 5)}},
                    Scenario{"LowerNumberIsRejected",
                             {Add("PQRSTU"), Commit("5", true, "PQRST", 5),
                              Commit("4", false, "", 5), Commit("6", true, "U", 6)}},
                    Scenario{"GarbageReadsAsZero",
                             {Add("PQ"), Commit("abc", true, "", 0), Commit(" +1x", true, "P", 1),
                              Commit("abc", false, "", 1)}},
                    Scenario{"SurplusIsNotCarriedOver",
                             {Add("PQ"), Commit("5", true, "PQ", 5), Add("R"),
                              Commit("5", true, "", 5), Commit("6", true, "R", 6)}},
                    Scenario{"HandBackIsCoveredFirst",
                             {Add("ABC"), HandBack(), Add("DE"), Commit("3", true, "", 3),
                              Commit("5", true, "DE", 5)}},
                    Scenario{"HandBackAfterPartialCommit",
                             {Add("ABC"), Commit("1", true, "A", 1), HandBack(), Add("D"),
                              Commit("2", true, "", 2), Commit("4", true, "D", 4)}},
                    Scenario{"HandBackKeepsPreviousNumber",
                             {Add("AB"), Commit("1", true, "A", 1), HandBack(),
                              Commit("0", false, "", 1), Add("C"), Commit("2", true, "", 2),
                              Commit("3", true, "C", 3)}}),
    [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

TEST(StreamInfoTest, CommitLogsAtTheirLevels) {
  ScopedLogCapture capture(4);
  StreamInfo stream(1, "/nonexistent");
  AddEach(stream, "PQ");
  std::list<std::string> committed;
  std::string number = "5";
  stream.getCommitGUIDList(number, committed);
  EXPECT_EQ(1u, capture.log().count("INFO: GUID [Q] added to comittedList", 4));
  EXPECT_EQ(1u, capture.log().count("We have less guids than the sequence number received.", -1));
  EXPECT_EQ(
      1u, capture.log().count("INFO: Sequence Number received. [5] Uncommitted Item Count [2]", 2));
  number = "4";
  stream.getCommitGUIDList(number, committed);
  EXPECT_EQ(1u, capture.log().count("ERROR: Backup storage agent sent lower sequence number [4] "
                                    "than the previous [5].",
                                    -1));
}

TEST(StreamInfoTest, PerItemRecordsOnlyAtLevelFour) {
  ScopedLogCapture capture(3);
  StreamInfo stream(1, "/nonexistent");
  AddEach(stream, "PQ");
  std::list<std::string> committed;
  std::string number = "2";
  stream.getCommitGUIDList(number, committed);
  EXPECT_EQ(0u, capture.log().countContaining("added to comittedList"));
}

TEST(StreamInfoTest, SignalsWhenTheListBecomesEmpty) {
  StreamInfo stream(1, "/nonexistent");
  AddEach(stream, "PQR");
  std::list<std::string> out;
  std::string number = "2";
  stream.getCommitGUIDList(number, out);
  EXPECT_FALSE(stream.callbackEvent.wait(0));
  number = "3";
  stream.getCommitGUIDList(number, out);
  EXPECT_TRUE(stream.callbackEvent.wait(0));
  AddEach(stream, "S");
  stream.removeAll();
  EXPECT_TRUE(stream.callbackEvent.wait(0));
  AddEach(stream, "T");
  stream.takeAllItems(out);
  EXPECT_TRUE(stream.callbackEvent.wait(0));
  EXPECT_EQ("PQRT", Join(out));
}

TEST(StreamInfoTest, StartsEmptyWithConfiguredLimit) {
  TempDir dir;
  ScopedEnv settings("OBJSTORE_SETTINGS_FILE", dir.sub("settings"));
  {
    ScopedLogCapture capture(1);
    StreamInfo stream(7, dir.sub("7"));
    EXPECT_EQ(1000u, stream.getMaxUncommittedCount());
    EXPECT_EQ(1u, capture.log().countContaining("is not set. Using the default [1000]", 1));
    EXPECT_EQ(0u, stream.getUncommittedCount());
    EXPECT_EQ(0, stream.getLastCommitTime());
    EXPECT_EQ(0, stream.getPreviousSequenceNumber());
    EXPECT_FALSE(stream.isCleanupInProgres());
    EXPECT_FALSE(PathExists(dir.sub("7")));  // touches no file
  }
  for (unsigned limit : {0u, 25u}) {
    ASSERT_NE(0, KAPlatformInfo().setNumber("Tarn", "nMaxUncommittedExtents", limit));
    EXPECT_EQ(limit, GetMaxUncommittedCount());
    EXPECT_EQ(limit, StreamInfo(7, dir.sub("7")).getMaxUncommittedCount());
  }
}

TEST(StreamInfoTest, InitCreatesTheDirectoryOrReportsWhy) {
  TempDir dir;
  ScopedLogCapture capture(1);
  StreamInfo stream(7, dir.sub("7"));
  EXPECT_TRUE(stream.init());
  EXPECT_TRUE(stream.init());  // exists already
  ASSERT_TRUE(WriteFile(dir.sub("file"), "x"));
  StreamInfo blocked(8, dir.sub("file/8"));
  EXPECT_FALSE(blocked.init());
  EXPECT_EQ(1u, capture.log().count("Directory [" + dir.sub("file/8") + "] create failed", -1));
}

TEST(StreamInfoTest, GetAllItemAppendsAndKeepsTheList) {
  TempDir dir;
  StreamInfo stream(7, dir.path());
  EXPECT_TRUE(stream.addFilePath("P"));
  EXPECT_TRUE(stream.addFilePath("Q"));
  std::list<std::string> out{"#"};
  stream.getAllItem(out);
  EXPECT_EQ("#PQ", Join(out));
  EXPECT_EQ(2u, stream.getStreamCacheSize());
  EXPECT_FALSE(PathExists(dir.sub("FILELIST")));  // lists live in memory only
}

struct FileListCase {
  const char* name;
  bool present;
  std::string content;
  std::string loaded;
};

void PrintTo(const FileListCase& file, std::ostream* out) {
  *out << file.name;
}

class FileListTest : public testing::TestWithParam<FileListCase> {};

TEST_P(FileListTest, LoadsWhiteSpaceSeparatedItemsInOrder) {
  TempDir dir;
  if (GetParam().present) {
    ASSERT_TRUE(WriteFile(dir.sub("FILELIST"), GetParam().content));
  }
  ScopedLogCapture capture(1);
  StreamInfo stream(dir.path());
  std::list<std::string> items;
  stream.getAllItem(items);
  std::string joined;
  for (const std::string& item : items) joined += item + ",";
  EXPECT_EQ(GetParam().loaded, joined);
  EXPECT_EQ(0u, stream.getStreamId());
  EXPECT_EQ(GetParam().present ? 0u : 1u,
            capture.log().count("WARN: file [" + dir.sub("FILELIST") +
                                    "] not present. It might not have been created as no backup "
                                    "done for this job previously.",
                                1));
}

INSTANTIATE_TEST_SUITE_P(Files, FileListTest,
                         testing::Values(FileListCase{"Missing", false, "", ""},
                                         FileListCase{"Empty", true, "", ""},
                                         FileListCase{"OnePerLine", true, "g1\ng2\n", "g1,g2,"},
                                         FileListCase{"MixedSeparators", true,
                                                      " g1 g2\t\tg3\n\n\r\ng4", "g1,g2,g3,g4,"}),
                         [](const testing::TestParamInfo<FileListCase>& info) {
                           return info.param.name;
                         });

// The sender adds items 0, 1, 2, ... while the commit handler commits what the pipeline has
// received so far and a failure path hands everything back, all at once. A number N covers the
// first N items, so it must release none from N on; and every item must end up committed or
// handed back, exactly once.
TEST(StreamInfoTest, ConcurrentUseLosesDuplicatesOrReleasesEarlyNothing) {
  const int64_t kItems = 3000;
  ScopedLogCapture capture(0);
  StreamInfo stream(1, "/nonexistent");
  std::atomic<int64_t> added(0);
  std::list<std::string> committed, handedBack;
  int64_t releasedEarly = 0;
  std::thread sender([&] {
    for (int64_t i = 0; i < kItems; ++i) {
      stream.addFilePath(std::to_string(i));
      ++added;
      std::this_thread::yield();  // let the others interleave
    }
  });
  std::thread committer([&] {
    for (int64_t received = 0; received < kItems;) {
      received = added.load();
      const int64_t covered = received - received % 7;
      std::string number = std::to_string(covered);
      std::list<std::string> released;
      KaCriticalSectionLock lock(&gStreamLock);
      stream.getCommitGUIDList(number, released);
      for (const std::string& item : released) releasedEarly += std::stoll(item) >= covered;
      committed.splice(committed.end(), released);
      std::this_thread::yield();
    }
  });
  std::thread failurePath([&] {
    while (added.load() < kItems) {
      stream.takeAllItems(handedBack);
      std::this_thread::yield();
    }
  });
  sender.join();
  committer.join();
  failurePath.join();
  std::string last = std::to_string(kItems);
  stream.getCommitGUIDList(last, committed);

  EXPECT_EQ(0, releasedEarly);
  EXPECT_EQ(0u, capture.log().records().size());  // no run-out, no lower number
  EXPECT_EQ(0u, stream.getUncommittedCount());
  std::multiset<std::string> all(committed.begin(), committed.end());
  all.insert(handedBack.begin(), handedBack.end());
  EXPECT_EQ(size_t(kItems), all.size());
  EXPECT_EQ(all.size(), std::set<std::string>(all.begin(), all.end()).size());
}

}  // namespace
}  // namespace ObjectStore

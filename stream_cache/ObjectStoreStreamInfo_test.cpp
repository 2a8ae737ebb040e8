#include "ObjectStoreStreamInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "KAPlatformInfo.h"
#include "KaCriticalSectionLock.h"
#include "StreamRegistry.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

using objstore_testing::ScopedLogCapture;
using objstore_testing::TempDir;

std::string Join(const std::list<std::string>& items, const char* separator = "") {
  std::string joined;
  for (const std::string& item : items) joined += item + separator;
  return joined;
}

// `action`: "+" and letters adds one item per letter; "fly" and a letter adds an item whose
// end-of-file is being sent, "land" ends that send successfully (releasing the item when a
// commit covered it meanwhile); "handback" moves every item out with getAllItem and removeAll,
// as the failure paths do; anything else is a sequence number.
struct Step {
  std::string action;
  std::string released = "";  // the items the commit yields, oldest first
  bool accepted = true;
};

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
    if (step.action[0] == '+') {
      for (char c : step.action.substr(1)) stream.addFilePath(std::string(1, c));
    } else if (step.action.compare(0, 3, "fly") == 0) {
      KaCriticalSectionLock lock(&stream.sendLock);
      stream.addItemInFlight(step.action.substr(3));
    } else if (step.action == "land") {
      KaCriticalSectionLock lock(&stream.sendLock);
      EXPECT_EQ(!step.released.empty(), stream.takeCoveredItem(out));
      EXPECT_EQ("#" + step.released, Join(out));
    } else if (step.action == "handback") {
      stream.getAllItem(out);
      stream.removeAll();
    } else {
      std::string number = step.action;
      EXPECT_EQ(step.accepted, stream.getCommitGUIDList(number, out)) << number;
      EXPECT_EQ("#" + step.released, Join(out)) << number;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CommitSequenceTest,
    testing::Values(
        Scenario{"InOrder", {{"+PQRST"}, {"3", "PQR"}, {"5", "ST"}, {"5", ""}}},
        // A release of fewer, as many or more items than stay behind keeps the order of both.
        Scenario{"FrontOfALongList",
                 {{"+PQRSTUV"}, {"1", "P"}, {"3", "QR"}, {"+W"}, {"7", "STUV"}, {"8", "W"}}},
        Scenario{"LowerNumberIsRejected",
                 {{"+PQRSTU"}, {"5", "PQRST"}, {"4", "", false}, {"6", "U"}}},
        Scenario{"GarbageReadsAsZero", {{"+PQ"}, {"abc", ""}, {" +1x", "P"}, {"abc", "", false}}},
        Scenario{"SurplusIsNotCarriedOver", {{"+PQ"}, {"5", "PQ"}, {"+R"}, {"5"}, {"6", "R"}}},
        Scenario{"HandBackIsCoveredFirst", {{"+ABC"}, {"handback"}, {"+DE"}, {"3"}, {"5", "DE"}}},
        Scenario{"HandBackAfterPartialCommit",
                 {{"+ABC"}, {"1", "A"}, {"handback"}, {"+D"}, {"2"}, {"4", "D"}}},
        Scenario{"HandBackKeepsPreviousNumber",
                 {{"+AB"}, {"1", "A"}, {"handback"}, {"0", "", false}, {"+C"}, {"3", "C"}}},
        // An item is not released while its end-of-file is in flight: the sender reports it
        // once that send succeeded, or hands it back when it failed.
        Scenario{"CoveredInFlightIsReleasedOnLanding",
                 {{"+AB"}, {"flyC"}, {"3", "AB"}, {"3"}, {"land", "C"}, {"+D"}, {"4", "D"}}},
        Scenario{"UncoveredInFlightWaitsForItsCommit",
                 {{"+A"}, {"flyB"}, {"1", "A"}, {"land"}, {"2", "B"}}},
        Scenario{"CoveredInFlightThatFailsIsHandedBack",
                 {{"+A"}, {"flyB"}, {"2", "A"}, {"handback"}, {"+C"}, {"2"}, {"3", "C"}}},
        Scenario{"SurplusOverInFlightIsNotCarriedOver",
                 {{"flyA"}, {"4"}, {"land", "A"}, {"+B"}, {"4"}, {"5", "B"}}}),
    [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

TEST(StreamInfoTest, CommitRecordsAtTheirLevels) {
  ScopedLogCapture capture(4);
  StreamInfo stream(1, "/nonexistent");
  stream.addFilePath("P");
  stream.addFilePath("Q");
  std::list<std::string> out;
  std::string number = "5";
  stream.getCommitGUIDList(number, out);
  number = "4";
  stream.getCommitGUIDList(number, out);
  EXPECT_EQ(1u, capture.log().count("INFO: GUID [Q] added to comittedList", 4));
  EXPECT_EQ(1u, capture.log().count("We have less guids than the sequence number received.", -1));
  EXPECT_EQ(
      1u, capture.log().count("INFO: Sequence Number received. [5] Uncommitted Item Count [2]", 2));
  EXPECT_EQ(
      1u, capture.log().count("ERROR: Backup storage agent sent lower sequence number [4] than the "
                              "previous [5].",
                              -1));
}

TEST(StreamInfoTest, SignalsWhenTheListBecomesEmpty) {
  StreamInfo stream(1, "/nonexistent");
  std::list<std::string> out;
  std::string number = "1";
  stream.addFilePath("P");
  stream.addFilePath("Q");
  stream.getCommitGUIDList(number, out);
  EXPECT_FALSE(stream.callbackEvent.wait(0));
  number = "2";
  stream.getCommitGUIDList(number, out);
  EXPECT_TRUE(stream.callbackEvent.wait(0));
  stream.addFilePath("R");
  stream.removeAll();
  EXPECT_TRUE(stream.callbackEvent.wait(0));
  stream.addFilePath("S");
  stream.takeAllItems(out);
  EXPECT_TRUE(stream.callbackEvent.wait(0));
  EXPECT_EQ("PQS", Join(out));
}

TEST(StreamInfoTest, LimitComesFromTheSettings) {
  TempDir dir;
  objstore_testing::ScopedEnv settings("OBJSTORE_SETTINGS_FILE", dir.sub("settings"));
  {
    ScopedLogCapture capture(1);
    StreamInfo stream(7, dir.sub("7"));
    EXPECT_EQ(1000u, stream.getMaxUncommittedCount());
    EXPECT_EQ(1u, capture.log().countContaining("is not set. Using the default [1000]", 1));
    EXPECT_FALSE(objstore_testing::PathExists(dir.sub("7")));  // touches no file
  }
  for (unsigned limit : {0u, 25u}) {
    ASSERT_NE(0, KAPlatformInfo().setNumber("Tarn", "nMaxUncommittedExtents", limit));
    EXPECT_EQ(limit, StreamInfo(7, dir.sub("7")).getMaxUncommittedCount());
  }
}

TEST(StreamInfoTest, InitCreatesTheDirectoryOrSaysWhyNot) {
  TempDir dir;
  ScopedLogCapture capture(1);
  EXPECT_TRUE(StreamInfo(7, dir.path()).init());  // exists already
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("file"), "x"));
  EXPECT_FALSE(StreamInfo(8, dir.sub("file/8")).init());
  EXPECT_EQ(1u, capture.log().count("Directory [" + dir.sub("file/8") + "] create failed", -1));
}

struct FileListCase {
  const char* name;
  bool present;
  std::string content;
  std::string loaded;
};

class FileListTest : public testing::TestWithParam<FileListCase> {};

TEST_P(FileListTest, LoadsWhiteSpaceSeparatedItemsInOrder) {
  TempDir dir;
  if (GetParam().present) {
    ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("FILELIST"), GetParam().content));
  }
  ScopedLogCapture capture(1);
  StreamInfo stream(dir.path());
  std::list<std::string> items;
  stream.getAllItem(items);
  EXPECT_EQ(GetParam().loaded, Join(items, ","));
  EXPECT_EQ(GetParam().present ? 0u : 1u, capture.log().countContaining("not present.", 1));
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

// As above, with each item in flight from its recording until its end-of-file, which the
// pipeline counts whether or not it succeeds: the sender lands good items (reporting those a
// commit covered meanwhile) and hands the stream back after a bad one. A commit must never
// release an item whose end-of-file it does not count, nor a bad item, and every item must end
// up reported committed or handed back, once.
TEST(StreamInfoTest, ItemsInFlightRaceWithCommits) {
  const int64_t kItems = 4000;
  ScopedLogCapture capture(0);
  StreamInfo stream(1, "/nonexistent");
  std::atomic<int64_t> counted(0);
  std::list<std::string> committed, landed, handedBack;
  int64_t releasedEarly = 0;
  auto bad = [](int64_t item) { return item % 13 == 5; };
  std::thread sender([&] {
    for (int64_t i = 0; i < kItems; ++i) {
      KaCriticalSectionLock lock(&stream.sendLock);
      stream.addItemInFlight(std::to_string(i));
      std::this_thread::yield();
      ++counted;  // the end-of-file is sent
      if (bad(i)) {
        stream.takeAllItems(handedBack);
      } else {
        stream.takeCoveredItem(landed);
      }
    }
  });
  std::thread committer([&] {
    for (int64_t received = 0; received < kItems;) {
      received = counted.load();
      std::string number = std::to_string(received);
      std::list<std::string> released;
      KaCriticalSectionLock lock(&gStreamLock);
      stream.getCommitGUIDList(number, released);
      for (const std::string& item : released) releasedEarly += std::stoll(item) >= received;
      committed.splice(committed.end(), released);
    }
  });
  sender.join();
  committer.join();

  EXPECT_EQ(0, releasedEarly);
  std::multiset<std::string> all(committed.begin(), committed.end());
  all.insert(landed.begin(), landed.end());
  for (const std::string& item : all) EXPECT_FALSE(bad(std::stoll(item))) << item;
  all.insert(handedBack.begin(), handedBack.end());
  EXPECT_EQ(size_t(kItems), all.size());
  EXPECT_EQ(all.size(), std::set<std::string>(all.begin(), all.end()).size());
  EXPECT_EQ(0u, stream.getStreamCacheSize());
}

// Which records leave the registry: only those of ended jobs that hold no item, and never a
// record that a later job registered under the same id (a pipeline may reuse its ids).
struct DropCase {
  const char* name;
  bool quit;
  bool holdsItem;
  bool replaced;
  bool dropped;
};

void PrintTo(const DropCase& drop, std::ostream* out) {
  *out << drop.name;
}

class DropStreamTest : public testing::TestWithParam<DropCase> {};

TEST_P(DropStreamTest, OnlyEndedEmptyRecordsOfTheirOwnIdLeave) {
  const DropCase& drop = GetParam();
  TempDir dir;
  const uint32_t id = 900001;
  StreamInfoPtr record(new StreamInfo(id, dir.sub("s")));
  StreamInfoPtr later(new StreamInfo(id, dir.sub("t")));
  if (drop.quit) record->setQuitFlag();
  if (drop.holdsItem) record->addFilePath("guid-1");
  KaCriticalSectionLock lock(&gStreamLock);
  gStreams[id] = drop.replaced ? later : record;
  EXPECT_EQ(drop.dropped, DropStreamIfDone(record));
  const auto entry = gStreams.find(id);
  if (drop.dropped) {
    EXPECT_TRUE(entry == gStreams.end());
  } else {
    ASSERT_TRUE(entry != gStreams.end());
    EXPECT_EQ(drop.replaced ? later : record, entry->second);
  }
  gStreams.erase(id);
}

INSTANTIATE_TEST_SUITE_P(Registry, DropStreamTest,
                         testing::Values(DropCase{"EndedAndEmpty", true, false, false, true},
                                         DropCase{"EndedWithAnItem", true, true, false, false},
                                         DropCase{"RunningAndEmpty", false, false, false, false},
                                         DropCase{"EndedButReplaced", true, false, true, false}),
                         [](const testing::TestParamInfo<DropCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace ObjectStore

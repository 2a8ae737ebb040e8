#include "DirectoryDiskCache.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AutoOpenSegment.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

using objstore_testing::ReadFile;
using objstore_testing::ScopedLogCapture;
using objstore_testing::TempDir;
using objstore_testing::WriteFile;

SectionV MakeSection(int32_t type, const std::string& data, uint32_t metaDataType = 0,
                     uint64_t offset = 0) {
  SectionV section;
  section.type = type;
  section.metaDataType = metaDataType;
  section.offset = offset;
  section.data.assign(data.begin(), data.end());
  return section;
}

void ExpectSameSections(const std::vector<SectionV>& expected,
                        const std::vector<SectionV>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].type, actual[i].type) << i;
    EXPECT_EQ(expected[i].metaDataType, actual[i].metaDataType) << i;
    EXPECT_EQ(expected[i].offset, actual[i].offset) << i;
    EXPECT_TRUE(expected[i].data == actual[i].data) << i;
  }
}

std::string Flip(std::string bytes, size_t at, char mask) {
  bytes.at(at) = static_cast<char>(bytes.at(at) ^ mask);
  return bytes;
}

class DiskCacheTest : public ::testing::Test {
 protected:
  std::string segmentFile(const std::string& name) { return cache_.segmentFile(name); }
  // Puts `content` where segment `name` lives, as damage or an older cache would.
  bool plant(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    return WriteFile(path, content);
  }
  CUxError read(const std::string& name, std::vector<SectionV>* sections) {
    return cache_.readAllSections(context_, name, *sections);
  }

  TempDir tmp_;
  std::string dir_ = tmp_.sub("cache/sub");  // parents are created too
  DirectoryDiskCache cache_{dir_};
  DiskCacheContext context_;
};

TEST_F(DiskCacheTest, SegmentsRoundTrip) {
  std::string big(3 * 1024 * 1024 + 7, '\0');
  std::mt19937 random(1);
  for (char& byte : big) byte = static_cast<char>(random());
  std::vector<SectionV> many;
  for (int i = 0; i < 3000; ++i) many.push_back(MakeSection(i % 4, std::to_string(i), i, i));
  struct Case {
    std::string name;
    std::vector<SectionV> sections;
  } cases[] = {
      {"all-fields", {MakeSection(-7, std::string("a\0b", 3), 0xFFFFFFFFu, 1ull << 40)}},
      {"no-sections", {}},
      {"empty-data", {MakeSection(kSectionStreamHeader, ""), MakeSection(kSectionFileData, "")}},
      {"many", many},
      {"big", {MakeSection(kSectionMetaData, "m", 3), MakeSection(kSectionFileData, big)}},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(cache_.writeSegment(c.name, c.sections, /*sync=*/true).IsError()) << c.name;
    std::vector<SectionV> sections;
    CUxError error = read(c.name, &sections);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    ExpectSameSections(c.sections, sections);
  }
  EXPECT_EQ(std::vector<std::string>({"all-fields", "big", "empty-data", "many", "no-sections"}),
            cache_.listSegments());
}

TEST_F(DiskCacheTest, DamagedSegmentsAreRefusedWithTheReason) {
  const std::string good = "guid-1";
  ASSERT_FALSE(cache_.writeSegment(good, {MakeSection(0, std::string(200, 'h'))}).IsError());
  const std::string file = ReadFile(segmentFile(good));
  struct Case {
    std::string what;
    std::string content;
    std::string reason;
  } cases[] = {
      {"header byte", Flip(file, 5, 0x01), "header checksum mismatch"},
      {"table byte", Flip(file, 32 + 5, 0x01), "section table checksum mismatch"},
      {"data byte", Flip(file, file.size() - 9, 0x40), "data checksum mismatch"},
      {"last byte cut", file.substr(0, file.size() - 1), "truncated"},
      {"header cut", file.substr(0, 20), "truncated"},
      {"empty file", "", "truncated"},
      {"bytes appended", file + "xx", "unexpected bytes"},
      {"wrong magic", "PK" + file.substr(2), "bad magic"},
      {"wrong version", Flip(file, 2, 0x03), "unsupported version 2"},
  };
  for (const Case& c : cases) {
    ScopedLogCapture capture;
    ASSERT_TRUE(plant(segmentFile("damaged"), c.content));
    std::vector<SectionV> sections(1);
    CUxError error = read("damaged", &sections);
    EXPECT_EQ(static_cast<uint32_t>(EBADMSG), error.GetErrorCode()) << c.what;
    EXPECT_NE(std::string::npos, error.GetMessage().find("segment [damaged]")) << c.what;
    EXPECT_NE(std::string::npos, error.GetMessage().find(c.reason)) << error.GetMessage();
    EXPECT_EQ(1u, sections.size()) << c.what;
    EXPECT_EQ(1u, capture.log().countContaining("ERROR: segment [damaged]", -1)) << c.what;
  }
}

// Segments spread over subdirectories: no directory holds more than a small share of them.
TEST_F(DiskCacheTest, SegmentsAreSpreadOverSubdirectories) {
  const int kSegments = 3000;
  for (int i = 0; i < kSegments; ++i) {
    ASSERT_FALSE(cache_.writeSegment("guid-" + std::to_string(i), {MakeSection(0, "h")}).IsError());
  }
  size_t directories = 0, largest = 0, top = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    ++top;
    if (!entry.is_directory()) continue;
    ++directories;
    const auto files = std::distance(std::filesystem::directory_iterator(entry.path()),
                                     std::filesystem::directory_iterator());
    largest = std::max(largest, static_cast<size_t>(files));
  }
  EXPECT_EQ(top, directories);  // nothing but subdirectories at the top
  EXPECT_GT(directories, 200u);
  EXPECT_LT(largest, 4u * kSegments / 256);
  EXPECT_EQ(size_t(kSegments), DirectoryDiskCache(dir_).listSegments().size());
}

// A cache written before segments were spread keeps them in its directory: they are read,
// listed, counted and removed, and move into their subdirectory when written again.
TEST_F(DiskCacheTest, FlatCacheFromBeforeIsStillRead) {
  ASSERT_FALSE(cache_.writeSegment("probe", {MakeSection(0, "old")}).IsError());
  const std::string file = ReadFile(segmentFile("probe"));
  ASSERT_FALSE(cache_.removeSegment("probe").IsError());
  for (const char* name : {"a", "b", "c"}) {
    ASSERT_TRUE(plant(dir_ + "/" + name + ".seg", file));
  }
  DirectoryDiskCache flat(dir_);
  EXPECT_EQ(3 * file.size(), flat.usedBytes());
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), flat.listSegments());
  std::vector<SectionV> sections;
  ASSERT_FALSE(flat.readAllSections(context_, "a", sections).IsError());
  EXPECT_EQ("old", std::string(sections[0].data.begin(), sections[0].data.end()));
  EXPECT_TRUE(flat.hasSegment("b"));

  ASSERT_FALSE(flat.writeSegment("a", {MakeSection(0, "new")}).IsError());
  EXPECT_FALSE(objstore_testing::PathExists(dir_ + "/a.seg"));
  ASSERT_FALSE(flat.removeSegment("b").IsError());
  EXPECT_FALSE(objstore_testing::PathExists(dir_ + "/b.seg"));
  EXPECT_EQ((std::vector<std::string>{"a", "c"}), DirectoryDiskCache(dir_).listSegments());
  sections.clear();
  ASSERT_FALSE(DirectoryDiskCache(dir_).readAllSections(context_, "a", sections).IsError());
  EXPECT_EQ("new", std::string(sections[0].data.begin(), sections[0].data.end()));
}

TEST_F(DiskCacheTest, MissingSegmentIsNotFound) {
  std::vector<SectionV> sections;
  CUxError error = read("absent", &sections);
  EXPECT_EQ(static_cast<uint32_t>(ENOENT), error.GetErrorCode());
  EXPECT_NE(std::string::npos, error.GetMessage().find("segment [absent] not found"));
  EXPECT_EQ(static_cast<uint32_t>(ENOENT), cache_.removeSegment("absent").GetErrorCode());
  EXPECT_FALSE(cache_.hasSegment("absent"));
}

TEST_F(DiskCacheTest, InvalidNamesAreRefused) {
  const std::string names[] = {"",
                               "a/b",
                               ".hidden",
                               "..",
                               std::string("a\0b", 3),
                               std::string(MAX_SEGMENT_NAME_LENGTH + 1, 'x')};
  for (const std::string& name : names) {
    std::vector<SectionV> sections;
    EXPECT_EQ(static_cast<uint32_t>(EINVAL), cache_.writeSegment(name, {}).GetErrorCode());
    EXPECT_EQ(static_cast<uint32_t>(EINVAL), read(name, &sections).GetErrorCode());
    EXPECT_EQ(static_cast<uint32_t>(EINVAL), cache_.removeSegment(name).GetErrorCode());
    EXPECT_FALSE(cache_.hasSegment(name));
  }
  EXPECT_FALSE(cache_.writeSegment(std::string(MAX_SEGMENT_NAME_LENGTH, 'x'), {}).IsError());
  EXPECT_TRUE(cache_.listSegments().size() == 1);
}

TEST_F(DiskCacheTest, WatermarkFollowsUsedBytes) {
  EXPECT_FALSE(cache_.isOverHighWatermark());  // no limit by default
  ASSERT_FALSE(cache_.writeSegment("a", {MakeSection(1, std::string(1000, 'a'))}).IsError());
  const uint64_t sizeA = ReadFile(segmentFile("a")).size();
  EXPECT_EQ(sizeA, cache_.usedBytes());
  cache_.setHighWatermark(sizeA);
  EXPECT_FALSE(cache_.isUnderSpacePressure(context_));  // at the watermark is not above it
  ASSERT_FALSE(cache_.writeSegment("a", {MakeSection(1, std::string(1001, 'a'))}).IsError());
  EXPECT_EQ(sizeA + 1, cache_.usedBytes());  // a replacement counts once
  EXPECT_TRUE(cache_.isUnderSpacePressure(context_));
  ASSERT_FALSE(cache_.writeSegment("b", {MakeSection(1, "b")}).IsError());
  const uint64_t total = cache_.usedBytes();
  EXPECT_EQ(total, sizeA + 1 + ReadFile(segmentFile("b")).size());

  ASSERT_TRUE(WriteFile(dir_ + "/.tmp-c-123456", "left by a crash"));
  ASSERT_TRUE(WriteFile(dir_ + "/notes.txt", "not a segment"));
  DirectoryDiskCache reopened(dir_);
  ASSERT_TRUE(reopened.isOpen());
  EXPECT_EQ(total, reopened.usedBytes());
  EXPECT_FALSE(objstore_testing::PathExists(dir_ + "/.tmp-c-123456"));
  EXPECT_EQ(std::vector<std::string>({"a", "b"}), reopened.listSegments());

  ASSERT_FALSE(cache_.removeSegment("a").IsError());
  EXPECT_FALSE(cache_.isOverHighWatermark());
  ASSERT_FALSE(cache_.removeSegment("b").IsError());
  EXPECT_EQ(0u, cache_.usedBytes());
  EXPECT_FALSE(cache_.hasSegment("a"));
}

TEST_F(DiskCacheTest, AFullDiskFailsTheWriteAndKeepsTheOlderSegment) {
  const std::vector<SectionV> old = {MakeSection(1, "old")};
  ASSERT_FALSE(cache_.writeSegment("a", old).IsError());
  const uint64_t used = cache_.usedBytes();
  cache_.writeBudget().setLimit(100);
  const CUxError error = cache_.writeSegment("a", {MakeSection(1, std::string(1000, 'n'))});
  EXPECT_EQ(static_cast<uint32_t>(ENOSPC), error.GetErrorCode());
  EXPECT_NE(std::string::npos, error.GetMessage().find("No space left on device"));
  std::vector<SectionV> sections;
  ASSERT_FALSE(read("a", &sections).IsError());
  ExpectSameSections(old, sections);
  EXPECT_EQ(used, cache_.usedBytes());
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) files += entry.exists();
  EXPECT_EQ(1u, files);  // no temporary left behind
}

TEST(DiskCacheFaultsTest, PlanFromTheEnvironmentAndItsSyntax) {
  uint64_t limit = 0;
  std::string why;
  EXPECT_TRUE(DirectoryDiskCache::ParseFaults("diskFullAfter=2KiB", &limit, &why));
  EXPECT_EQ(2048u, limit);
  EXPECT_FALSE(DirectoryDiskCache::ParseFaults("sendHeader=1", &limit, &why));
  EXPECT_EQ("the disk cache knows one fault, diskFullAfter=<size>", why);
  EXPECT_FALSE(DirectoryDiskCache::ParseFaults("diskFullAfter=-1", &limit, &why));

  TempDir tmp;
  objstore_testing::ScopedEnv faults("OBJSTORE_DISKCACHE_FAULTS", "diskFullAfter=10");
  DirectoryDiskCache cache(tmp.sub("cache"));
  EXPECT_EQ(static_cast<uint32_t>(ENOSPC),
            cache.writeSegment("a", {MakeSection(1, "twenty bytes of data")}).GetErrorCode());
}

TEST(DiskCacheOpenTest, UnusableDirectoryIsReported) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.sub("file"), "x"));
  DirectoryDiskCache cache(tmp.sub("file"));
  std::string why;
  EXPECT_FALSE(cache.isOpen(&why));
  EXPECT_NE(std::string::npos, why.find("file")) << why;
  std::vector<SectionV> sections;
  EXPECT_TRUE(cache.readAllSections(DiskCacheContext(), "a", sections).IsError());
  EXPECT_TRUE(cache.writeSegment("a", {}).IsError());
}

TEST_F(DiskCacheTest, AutoOpenSegmentsOfOneNameShareTheirInfo) {
  {
    AutoOpenSegment first(cache_, "x");
    AutoOpenSegment second(cache_, "x");
    AutoOpenSegment other(cache_, "y");
    EXPECT_EQ(first.getSegInfo(), second.getSegInfo());
    EXPECT_NE(first.getSegInfo(), other.getSegInfo());
    EXPECT_EQ(2u, cache_.openSegmentCount());
  }
  EXPECT_EQ(0u, cache_.openSegmentCount());
}

// Many names open at once, closed out of order, twice: each name keeps one entry of its own
// while it is open, whichever part of the map holds it.
TEST_F(DiskCacheTest, ManyOpenSegmentsStayDistinct) {
  for (int round = 0; round < 2; ++round) {
    std::vector<std::unique_ptr<AutoOpenSegment> > opened;
    std::set<OpenSegmentInfo*> infos;
    for (int i = 0; i < 300; ++i) {
      const std::string name = "segment-" + std::to_string(round) + "-" + std::to_string(i);
      opened.emplace_back(new AutoOpenSegment(cache_, name));
      opened.emplace_back(new AutoOpenSegment(cache_, name));
      OpenSegmentInfo* info = opened.back()->getSegInfo();
      EXPECT_EQ(opened[opened.size() - 2]->getSegInfo(), info);
      infos.insert(info);
    }
    EXPECT_EQ(300u, infos.size());
    EXPECT_EQ(300u, cache_.openSegmentCount());
    for (size_t i = 0; i < opened.size(); i += 2) opened[i].reset();  // one of each pair
    EXPECT_EQ(300u, cache_.openSegmentCount());
    opened.clear();
    EXPECT_EQ(0u, cache_.openSegmentCount());
  }
}

// Readers must always see one whole version of a segment being replaced; the accounting must
// match the directory afterwards. Also the segment lock must serialise readers of one name
// (ThreadSanitizer reports the plain counters below if it does not).
TEST_F(DiskCacheTest, ConcurrentWritersReadersAndOpeners) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 60;
  int lockedCounters[3] = {0, 0, 0};
  std::atomic<int> badReads{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        std::string shared = "shared-" + std::to_string(round % 3);
        char fill = static_cast<char>('a' + t);
        cache_.writeSegment(shared, {MakeSection(1, std::string(100 + t * 50, fill))});
        cache_.writeSegment("own-" + std::to_string(t), {MakeSection(1, std::string(round, 'o'))});
        if (round % 5 == 0) cache_.removeSegment(shared);
        AutoOpenSegment open(cache_, shared);
        open.getSegInfo()->segmentLock.enter(true);
        ++lockedCounters[round % 3];
        std::vector<SectionV> sections;
        CUxError error = cache_.readAllSections(context_, shared, sections);
        open.getSegInfo()->segmentLock.leave();
        if (error.IsError() ? error.GetErrorCode() != ENOENT
                            : sections.size() != 1 ||
                                  std::string(sections[0].data.begin(), sections[0].data.end()) !=
                                      std::string(sections[0].data.size(), sections[0].data[0]))
          ++badReads;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, badReads.load());
  EXPECT_EQ(kThreads * kRounds, lockedCounters[0] + lockedCounters[1] + lockedCounters[2]);
  EXPECT_EQ(0u, cache_.openSegmentCount());
  EXPECT_EQ(DirectoryDiskCache(dir_).usedBytes(), cache_.usedBytes());
}

}  // namespace
}  // namespace ObjectStore

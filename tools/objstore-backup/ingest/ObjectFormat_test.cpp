// What ingest writes into a segment and how its metadata reads back, and which links a source
// walk keeps as links.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "CXFileHeader.h"
#include "DirectoryDiskCache.h"
#include "Ingester.h"
#include "ObjectId.h"
#include "ObjectMetadata.h"
#include "SegmentBuilder.h"
#include "SourceTree.h"
#include "TestSupport.h"

namespace objstore_host {
namespace {

// Segments and stores written by earlier versions name objects by these identifiers: they must
// never change. Digests as sha1sum prints them.
TEST(ObjectIdTest, KnownDigests) {
  const struct {
    std::string input;
    std::string digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},  // padding bounds
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(1000, 'a'), "291e9a6c66994949b57ba5e650361e98fc36b1ba"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.digest, Sha1Hex(c.input)) << c.input.size();
  EXPECT_EQ("228d16d6fa85e14aaa1f47596b217fcee7f5a978", ObjectGuid("docs/readme.txt"));
  EXPECT_EQ("423a391eb8a2a660e3e331fc74a95100d06cc164", SourceId("/srv/data/a"));
}

TEST(SegmentBuilderTest, HeaderMetadataAndExtentSizedDataSections) {
  objstore_testing::TempDir dir;
  const std::string content(40 << 10, 'x');
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("f"), content));
  std::vector<SourceEntry> entries;
  std::vector<std::string> problems;
  ASSERT_TRUE(SourceTree(dir.path()).list(&entries, &problems));
  ASSERT_EQ(1u, entries.size());

  std::vector<ObjectStore::SectionV> sections;
  std::string error;
  ASSERT_TRUE(SegmentBuilder(16 << 10).build(entries[0], &sections, &error)) << error;
  ASSERT_EQ(5u, sections.size());

  ASSERT_EQ(ObjectStore::kSectionStreamHeader, sections[0].type);
  ASSERT_EQ(sizeof(OBJECTOPSAPI::CXFileHeader), sections[0].data.size());
  const std::string filename(sections[0].data.data() + 132);
  EXPECT_EQ(ObjectGuid("f") + "," + SourceId(dir.sub("f")), filename);
  EXPECT_EQ(',', sections[0].data[172]);

  ASSERT_EQ(ObjectStore::kSectionMetaData, sections[1].type);
  EXPECT_EQ(ObjectMetadata::kSectionKind, sections[1].metaDataType);
  ObjectMetadata metadata;
  ASSERT_TRUE(
      metadata.parse(std::string(sections[1].data.begin(), sections[1].data.end()), &error));
  EXPECT_EQ("f", metadata.path);
  EXPECT_EQ(content.size(), metadata.size);

  const uint64_t offsets[] = {0, 16 << 10, 32 << 10};
  const size_t sizes[] = {16 << 10, 16 << 10, 8 << 10};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ObjectStore::kSectionFileData, sections[2 + i].type);
    EXPECT_EQ(offsets[i], sections[2 + i].offset);
    EXPECT_EQ(sizes[i], sections[2 + i].data.size());
  }
}

TEST(ObjectMetadataTest, AnyPathAndEveryFieldSurviveTheRoundTrip) {
  ObjectMetadata written;
  written.kind = ObjectKind::kSymlink;
  written.path = "dir/line\nbreak\\back=slash\r";
  written.size = 12345678901ull;
  written.mode = 0640;
  written.mtimeSeconds = -5;
  written.mtimeNanos = 999999999;
  written.linkTarget = "../t\narget";
  written.version = 18446744073709551615ull;
  ObjectMetadata read;
  std::string error;
  ASSERT_TRUE(read.parse(written.serialize(), &error)) << error;
  EXPECT_EQ(written.serialize(), read.serialize());
  EXPECT_EQ(written.path, read.path);
  EXPECT_EQ(written.linkTarget, read.linkTarget);
  EXPECT_EQ(written.version, read.version);
}

// Metadata written before versions existed must read back as version 0, and a copy without a
// version must still write the text older readers know, line for line.
TEST(ObjectMetadataTest, VersionLineIsOptional) {
  const std::string unversioned =
      "objstore-object 1\nkind=file\npath=a/b\nsize=3\nmode=420\nmtime=7.000000001\ntarget=\n";
  ObjectMetadata read;
  read.version = 9;
  std::string error;
  ASSERT_TRUE(read.parse(unversioned, &error)) << error;
  EXPECT_EQ(0u, read.version);
  EXPECT_EQ(unversioned, read.serialize());

  read.version = 42;
  EXPECT_EQ(unversioned + "version=42\n", read.serialize());
}

TEST(ObjectMetadataTest, OnlyTextStartingWithTheFormatLineIsThisFormat) {
  const struct {
    const char* text;
    bool ours;
  } cases[] = {
      {"objstore-object 1\npath=a\n", true},
      {"objstore-object 1", true},
      {"objstore-object 1\n", true},
      {"objstore-object 12\npath=a\n", false},
      {"objstore-object 2\npath=a\n", false},
      {"other-host-object 1\n", false},
      {"{\"key\": \"a\"}", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.ours, ObjectMetadata::IsThisFormat(c.text)) << c.text;
}

struct BadMetadata {
  const char* name;
  const char* text;
};

class ObjectMetadataErrorTest : public testing::TestWithParam<BadMetadata> {};

TEST_P(ObjectMetadataErrorTest, IsRefusedWithAReason) {
  ObjectMetadata metadata;
  metadata.path = "unchanged";
  std::string error;
  EXPECT_FALSE(metadata.parse(GetParam().text, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ("unchanged", metadata.path);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ObjectMetadataErrorTest,
    testing::Values(BadMetadata{"Empty", ""},
                    BadMetadata{"OtherFormat", "objstore-object 2\npath=a\n"},
                    BadMetadata{"NoPath", "objstore-object 1\nkind=file\n"},
                    BadMetadata{"UnknownKind", "objstore-object 1\nkind=fifo\npath=a\n"},
                    BadMetadata{"LineWithoutValue", "objstore-object 1\npath\n"},
                    BadMetadata{"BadEscape", "objstore-object 1\npath=a\\t\n"},
                    BadMetadata{"NegativeSize", "objstore-object 1\npath=a\nsize=-1\n"},
                    BadMetadata{"ModeTooLarge", "objstore-object 1\npath=a\nmode=70000\n"},
                    BadMetadata{"ShortNanos", "objstore-object 1\npath=a\nmtime=1.5\n"},
                    BadMetadata{"AbsolutePath", "objstore-object 1\npath=/etc/passwd\n"},
                    BadMetadata{"ClimbingPath", "objstore-object 1\npath=a/../../b\n"},
                    BadMetadata{"EmptyComponent", "objstore-object 1\npath=a//b\n"},
                    BadMetadata{"NegativeVersion", "objstore-object 1\npath=a\nversion=-1\n"},
                    BadMetadata{"VersionNotANumber", "objstore-object 1\npath=a\nversion=v2\n"},
                    BadMetadata{"VersionTooLarge",
                                "objstore-object 1\npath=a\nversion=18446744073709551616\n"}),
    [](const testing::TestParamInfo<BadMetadata>& info) { return info.param.name; });

struct Link {
  const char* linkPath;
  const char* target;
  bool inside;
};

void PrintTo(const Link& link, std::ostream* out) {
  *out << link.linkPath << " -> \"" << link.target << "\"";
}

class StaysInsideTest : public testing::TestWithParam<Link> {};

TEST_P(StaysInsideTest, ResolvesLexically) {
  EXPECT_EQ(GetParam().inside, SourceTree::StaysInside(GetParam().linkPath, GetParam().target))
      << GetParam().linkPath << " -> " << GetParam().target;
}

INSTANTIATE_TEST_SUITE_P(Links, StaysInsideTest,
                         testing::Values(Link{"a", "b", true}, Link{"a/l", "../b", true},
                                         Link{"a/l", "../../b", false}, Link{"l", "../x", false},
                                         Link{"a/b/l", "./../c/./d", true},
                                         Link{"a/l", "x/../../..", false},
                                         Link{"a/l", "/etc/passwd", false}, Link{"a/l", "", false}),
                         [](const testing::TestParamInfo<Link>& info) {
                           return "Case" + std::to_string(info.index);
                         });

TEST(SourceTreeTest, LinksLeavingTheTreeAreTakenAsWhatTheyPointTo) {
  objstore_testing::TempDir dir;
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("outside"), "data"));
  std::filesystem::create_directories(dir.sub("tree"));
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("tree/file"), "x"));
  ASSERT_EQ(0, symlink("file", dir.sub("tree/inside").c_str()));
  ASSERT_EQ(0, symlink("../outside", dir.sub("tree/escape").c_str()));
  ASSERT_EQ(0, symlink("missing", dir.sub("tree/dangling").c_str()));
  std::vector<SourceEntry> entries;
  std::vector<std::string> problems;
  ASSERT_TRUE(SourceTree(dir.sub("tree")).list(&entries, &problems));
  ASSERT_EQ(4u, entries.size());
  EXPECT_EQ("dangling", entries[0].relativePath);
  EXPECT_EQ(ObjectKind::kSymlink, entries[0].kind);
  EXPECT_EQ("escape", entries[1].relativePath);
  EXPECT_EQ(ObjectKind::kFile, entries[1].kind);
  EXPECT_EQ(4, entries[1].status.st_size);
  EXPECT_EQ(ObjectKind::kFile, entries[2].kind);
  EXPECT_EQ("inside", entries[3].relativePath);
  EXPECT_EQ(ObjectKind::kSymlink, entries[3].kind);
  EXPECT_TRUE(problems.empty());
}

TEST(IngesterTest, EveryObjectBecomesASegmentAndOthersAreReported) {
  objstore_testing::TempDir dir;
  std::filesystem::create_directories(dir.sub("src/empty"));
  ASSERT_TRUE(objstore_testing::WriteFile(dir.sub("src/file"), "content"));
  ASSERT_EQ(0, symlink("file", dir.sub("src/link").c_str()));
  ASSERT_EQ(0, mkfifo(dir.sub("src/pipe").c_str(), 0644));
  IngestOptions options;
  options.sourceDir = dir.sub("src");
  options.cacheDir = dir.sub("cache");
  const IngestResult result = Ingester(options, nullptr).run();

  EXPECT_FALSE(result.ok());
  ASSERT_EQ(1u, result.problems.size());
  EXPECT_NE(std::string::npos, result.problems[0].find("pipe")) << result.problems[0];
  EXPECT_EQ(3u, result.objects);
  EXPECT_EQ(1u, result.files);
  EXPECT_EQ(1u, result.symlinks);
  EXPECT_EQ(1u, result.directories);
  EXPECT_EQ(7u, result.bytes);
  ObjectStore::DirectoryDiskCache cache(dir.sub("cache"));
  for (const char* path : {"empty", "file", "link"})
    EXPECT_TRUE(cache.hasSegment(ObjectGuid(path)));
}

}  // namespace
}  // namespace objstore_host

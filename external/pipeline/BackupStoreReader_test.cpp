#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "MakeCXFileHeader.h"
#include "PipelineErrors.h"
#include "StoreFormat.h"
#include "testing/PipelineTestSupport.h"

namespace pipeline_testing {
namespace {

typedef PipelineTest BackupStoreReaderTest;

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) & 0xff);
  return bytes;
}

void Append(const std::string& path, const void* bytes, size_t length) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(static_cast<ssize_t>(length), ::write(fd, bytes, length));
  ::close(fd);
}

TEST_F(BackupStoreReaderTest, EverySectionComesBackByteForByte) {
  CSynchronousBackupPtr job = startJob(2);
  CStreamHandlerPtr streams[2] = {stream(job), stream(job)};
  // Sizes around the buffer's limits: empty, small, directly written, larger than the buffer.
  const size_t sizes[] = {0, 1, 4095, 256 << 10, (1 << 20) + 17, 3 << 20};
  for (unsigned i = 0; i < 6; ++i) {
    const CStreamHandlerPtr& handler = streams[i % 2];
    CXFileHeader header = MakeCXFileHeader("item" + std::to_string(i), "g");
    std::string meta = Pattern(i * 10, i), data = Pattern(sizes[i], i + 1);
    ASSERT_FALSE(handler->sendHeader(&header).IsError());
    ASSERT_FALSE(handler->sendMetaData(100 + i, meta.data(), meta.size()).IsError());
    ASSERT_FALSE(handler->sendUserBufData(data.data(), data.size()).IsError());
    ASSERT_FALSE(handler->sendUserBufData(meta.data(), meta.size()).IsError());
    const char reason[] = "why";
    ASSERT_FALSE(handler->sendEof(i != 3, i == 3 ? reason : nullptr, 3).IsError());
  }
  ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());

  std::vector<StoreRun> all = runs();
  ASSERT_EQ(1u, all.size());
  ASSERT_EQ(2u, all[0].streams.size());
  for (unsigned s = 0; s < 2; ++s) {
    EXPECT_EQ(3u, all[0].streams[s].committedCount);
    std::vector<StoreItem> stored = items(streams[s]->getAfileID());
    ASSERT_EQ(3u, stored.size());
    for (unsigned k = 0; k < 3; ++k) {
      unsigned i = k * 2 + s;
      const StoreItem& item = stored[k];
      CXFileHeader header = MakeCXFileHeader("item" + std::to_string(i), "g");
      EXPECT_EQ(k, item.index);
      EXPECT_EQ("item" + std::to_string(i), item.name);
      EXPECT_TRUE(item.committed);
      EXPECT_EQ(i != 3, item.success);
      EXPECT_EQ(i == 3 ? "why" : "", item.reason);
      ASSERT_EQ(4u, item.sections.size());
      EXPECT_EQ(kStoreRecordHeader, item.sections[0].type);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header), sizeof(header)),
                item.sections[0].bytes);
      EXPECT_EQ(kStoreRecordMetaData, item.sections[1].type);
      EXPECT_EQ(100 + i, item.sections[1].kind);
      EXPECT_EQ(Pattern(i * 10, i), item.sections[1].bytes);
      EXPECT_EQ(kStoreRecordData, item.sections[2].type);
      EXPECT_TRUE(Pattern(sizes[i], i + 1) == item.sections[2].bytes) << "item " << i;
      EXPECT_EQ(Pattern(i * 10, i), item.sections[3].bytes);
    }
  }
}

// An item's name is the first identifier of its header, without the padding to 40 characters.
TEST_F(BackupStoreReaderTest, ItemsAreNamedByTheirHeaders) {
  const std::string hex40 = "0123456789abcdef0123456789abcdef01234567";
  const struct {
    std::string id1;
    std::string name;
  } cases[] = {{"a", "a"}, {"obj-1", "obj-1"}, {hex40, hex40}, {hex40 + "89", hex40}};
  CSynchronousBackupPtr job = startJob(1);
  CStreamHandlerPtr handler = stream(job);
  for (const auto& c : cases) {
    CXFileHeader header = MakeCXFileHeader(c.id1, "source");
    ASSERT_FALSE(handler->sendHeader(&header).IsError());
    ASSERT_FALSE(handler->sendEof(true, nullptr, 0).IsError());
  }
  ASSERT_FALSE(handler->sendUserBufData("x", 1).IsError());  // an item without a header
  ASSERT_FALSE(handler->sendEof(true, nullptr, 0).IsError());
  ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());

  std::vector<StoreItem> stored = items(handler->getAfileID());
  ASSERT_EQ(5u, stored.size());
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(cases[i].name, stored[i].name) << cases[i].id1;
  EXPECT_EQ("", stored[4].name);
}

TEST_F(BackupStoreReaderTest, LengthsOnlyWithoutPayloads) {
  CSynchronousBackupPtr job = startJob(1);
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "a", std::string(5000, 'd')).IsError());
  ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  StoreStreamReader reader;
  ASSERT_FALSE(reader.open(runs()[0].streams[0]).IsError());
  StoreItem item;
  bool more = false;
  ASSERT_FALSE(reader.next(&item, &more, false).IsError());
  ASSERT_TRUE(more);
  EXPECT_EQ(5000u, item.sections[2].length);
  EXPECT_TRUE(item.sections[2].bytes.empty());
  ASSERT_FALSE(reader.next(&item, &more, false).IsError());
  EXPECT_FALSE(more);
}

TEST_F(BackupStoreReaderTest, CutTailEndsAfterTheLastWholeItem) {
  CSynchronousBackupPtr job = startJob(1);
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  StoreStreamInfo info = runs()[0].streams[0];

  // An unfinished item, then a record whose payload is cut short.
  StoreRecordHeader header = MakeStoreRecordHeader(kStoreRecordMetaData, 1, "xy", 2);
  Append(info.dataPath, &header, sizeof(header));
  Append(info.dataPath, "xy", 2);
  header = MakeStoreRecordHeader(kStoreRecordData, 0, std::string(100, 'z').data(), 100);
  Append(info.dataPath, &header, sizeof(header));
  Append(info.dataPath, "short", 5);

  StoreStreamReader reader;
  ASSERT_FALSE(reader.open(info).IsError());
  StoreItem item;
  bool more = false;
  ASSERT_FALSE(reader.next(&item, &more).IsError());
  EXPECT_TRUE(more);
  ASSERT_FALSE(reader.next(&item, &more).IsError());
  EXPECT_FALSE(more);
  EXPECT_TRUE(reader.incompleteTail());
  EXPECT_EQ(1u, reader.itemsRead());
}

TEST_F(BackupStoreReaderTest, DamagedStoresAreErrors) {
  CSynchronousBackupPtr job = startJob(1);
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "a").IsError());
  ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  StoreStreamInfo info = runs()[0].streams[0];
  std::vector<StoreItem> stored;

  info.committedCount = 2;  // more than the file holds
  EXPECT_EQ(kPipelineBadStore, StoreStreamReader::ReadAll(info, &stored).GetErrorCode());
  info.committedCount = 1;
  info.aFileId += 1;  // another stream's header
  EXPECT_EQ(kPipelineBadStore, StoreStreamReader::ReadAll(info, &stored).GetErrorCode());
  info.aFileId -= 1;
  StoreRecordHeader unknown = MakeStoreRecordHeader(99, 0, nullptr, 0);
  Append(info.dataPath, &unknown, sizeof(unknown));
  EXPECT_EQ(kPipelineBadStore, StoreStreamReader::ReadAll(info, &stored).GetErrorCode());

  // A damaged run is listed with its problem; the store as a whole still reads.
  ASSERT_TRUE(objstore_testing::WriteFile(info.committedPath, "x1\n"));
  std::vector<StoreRun> all = runs();
  ASSERT_EQ(1u, all.size());
  ASSERT_EQ(1u, all[0].problems.size());
  EXPECT_NE(std::string::npos, all[0].problems[0].find("does not hold a count"))
      << all[0].problems[0];
}

TEST_F(BackupStoreReaderTest, RunsAreListedPerJobAndStrayDirectoriesSkipped) {
  std::vector<StoreRun> all;
  ASSERT_FALSE(BackupStoreReader(dir_.sub("missing")).listRuns(&all).IsError());
  EXPECT_TRUE(all.empty());

  for (int64_t jobId : {5, 4, 5}) {
    ASSERT_FALSE(startJob(1, jobId)->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  }
  ASSERT_EQ(0, ::mkdir((store_ + "/stray").c_str(), 0777));
  all = runs();
  ASSERT_EQ(3u, all.size());
  EXPECT_EQ(4, all[0].manifest.jobId);
  ASSERT_FALSE(BackupStoreReader(store_).listRunsOfJob(5, &all).IsError());
  ASSERT_EQ(2u, all.size());
  EXPECT_NE(all[0].dir, all[1].dir);
  EXPECT_LE(all[0].manifest.startTime, all[1].manifest.startTime);
}

TEST(JobManifestTest, TextRoundTripsWithAwkwardCharacters) {
  OBJECTOPSAPI::JobManifest manifest;
  manifest.jobId = -3;
  manifest.configText1 = "a=b\\n\nc\r";
  manifest.configNumbers = {0, 7};
  manifest.ended = true;
  manifest.endStatus = 2;
  manifest.streamEnds = {{4, 10, false}, {9, 0, true}};
  OBJECTOPSAPI::JobManifest back;
  const std::string text = manifest.serialize();
  ASSERT_FALSE(back.parse(text).IsError());
  EXPECT_EQ(text, back.serialize());
  EXPECT_EQ("a=b\\n\nc\r", back.configText1);
  ASSERT_EQ(2u, back.streamEnds.size());
  EXPECT_EQ(10u, back.streamEnds[0].committed);
  EXPECT_TRUE(back.streamEnds[1].broken);
}

TEST(JobManifestTest, DamagedOrOlderTextIsRefusedWithTheReason) {
  OBJECTOPSAPI::JobManifest manifest;
  manifest.jobId = 12;
  const std::string text = manifest.serialize();
  std::string flipped = text;
  flipped[text.find("jobId=12") + 6] = '3';
  struct Case {
    std::string text;
    const char* reason;
  } cases[] = {
      {flipped, "fails its checksum"},
      {text.substr(0, text.rfind("crc32c=")), "without its checksum line"},
      {"objstore-pipeline-manifest 1\njobId=12\n", "store format 1"},
      {"something else\n", "not a pipeline job manifest"},
  };
  for (const Case& c : cases) {
    OBJECTOPSAPI::JobManifest back;
    const CUxError error = back.parse(c.text);
    EXPECT_EQ(kPipelineBadStore, error.GetErrorCode()) << c.reason;
    EXPECT_NE(std::string::npos, error.GetMessage().find(c.reason)) << error.GetMessage();
  }
}

}  // namespace
}  // namespace pipeline_testing

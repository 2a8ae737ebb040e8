// Damage to a store after the fact never reads as intact data: every record proves itself by
// its checksums, and the counts of committed items prove each other (the committed file, the
// stream's commit records, the manifest of a run that ended).
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "PipelineErrors.h"
#include "PipelineFaults.h"
#include "StoreFormat.h"
#include "testing/PipelineTestSupport.h"

namespace pipeline_testing {
namespace {

class StoreIntegrityTest : public PipelineTest {
 protected:
  // A run of one stream with three items of distinct data, ended (or dropped after committing
  // them, when `ended` is false). Commits come one item at a time, so the file holds three
  // commit records.
  StoreStreamInfo writeRun(bool ended) {
    CSynchronousBackupPtr job = startJob(1);
    boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
    CStreamHandlerPtr handler = stream(job);
    const uint32_t id = handler->getAfileID();
    for (int i = 0; i < 3; ++i) {
      EXPECT_FALSE(
          SendItem(handler, "item" + std::to_string(i), std::string(1000, 'a' + i)).IsError());
      EXPECT_FALSE(handler->commitData().IsError());
      EXPECT_TRUE(recorder->waitForSequence(id, std::to_string(i + 1)));
    }
    if (ended) {
      EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
    }
    handler.reset();
    job.reset();
    return onlyStream();
  }

  StoreStreamInfo onlyStream() {
    std::vector<StoreRun> all = runs();
    EXPECT_EQ(1u, all.size());
    EXPECT_EQ(1u, all[0].streams.size());
    return all[0].streams[0];
  }

  struct Read {
    std::vector<StoreItem> items;
    std::vector<std::string> problems;
  };
  static Read ReadStream(const StoreStreamInfo& info) {
    Read read;
    StoreStreamReader reader;
    EXPECT_FALSE(reader.open(info).IsError());
    StoreItem item;
    bool more = true;
    while (more) {
      EXPECT_FALSE(reader.next(&item, &more).IsError());
      if (more) read.items.push_back(item);
    }
    read.problems = reader.problems();
    return read;
  }
};

// Offset of the n-th record (from 0) of a data file, walking the record headers.
uint64_t RecordOffset(const std::string& path, int n) {
  const std::string bytes = objstore_testing::ReadFile(path);
  uint64_t at = sizeof(StoreFileHeader);
  for (int i = 0; i < n; ++i) {
    StoreRecordHeader header;
    memcpy(&header, bytes.data() + at, sizeof(header));
    at += sizeof(header) + header.length;
  }
  return at;
}

void FlipBit(const std::string& path, uint64_t offset) {
  std::string bytes = objstore_testing::ReadFile(path);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] ^= 0x10;
  ASSERT_TRUE(objstore_testing::WriteFile(path, bytes));
}

bool Mentions(const std::vector<std::string>& problems, const std::string& text) {
  for (const std::string& problem : problems) {
    if (problem.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST_F(StoreIntegrityTest, AFlippedPayloadBitDamagesOnlyItsItem) {
  const StoreStreamInfo info = writeRun(true);
  // Records per item: header, metadata, data, eof; a commit record after each item.
  const uint64_t data = RecordOffset(info.dataPath, 5 + 2);
  FlipBit(info.dataPath, data + sizeof(StoreRecordHeader) + 500);
  const Read read = ReadStream(info);
  ASSERT_EQ(3u, read.items.size());
  EXPECT_TRUE(read.items[0].damage.empty());
  EXPECT_EQ("its data record at offset " + std::to_string(data) + " fails its checksum",
            read.items[1].damage);
  EXPECT_TRUE(read.items[2].damage.empty());
  EXPECT_TRUE(read.problems.empty()) << read.problems[0];
}

TEST_F(StoreIntegrityTest, AFlippedHeaderBitCostsOnlyItsRecordsItem) {
  const StoreStreamInfo info = writeRun(true);
  const uint64_t damaged = RecordOffset(info.dataPath, 5 + 2);  // the second item's data record
  FlipBit(info.dataPath, damaged + 9);                          // its length
  const Read read = ReadStream(info);
  ASSERT_EQ(3u, read.items.size());
  EXPECT_TRUE(read.items[0].damage.empty());
  EXPECT_EQ("a record of it at offset " + std::to_string(damaged) + " is damaged",
            read.items[1].damage);
  EXPECT_EQ("item1", read.items[1].name);
  EXPECT_TRUE(read.items[2].damage.empty());
  EXPECT_TRUE(read.items[2].committed);
  ASSERT_EQ(1u, read.problems.size());
  EXPECT_TRUE(
      Mentions(read.problems, "the record at offset " + std::to_string(damaged) + " is damaged"));
  EXPECT_TRUE(Mentions(read.problems, "bytes skipped, up to the next intact record"));
}

struct CountDamage {
  const char* name;
  bool ended;
  std::function<void(const StoreStreamInfo&)> damage;
  const char* problem;
  uint64_t committedItems;  // items the reader still counts as committed
};

class StoreCountTest : public StoreIntegrityTest,
                       public testing::WithParamInterface<CountDamage> {};

TEST_P(StoreCountTest, DisagreeingCountsAreProblems) {
  const StoreStreamInfo written = writeRun(GetParam().ended);
  {
    const Read clean = ReadStream(written);
    ASSERT_TRUE(clean.problems.empty()) << clean.problems[0];
  }
  GetParam().damage(written);
  const Read read = ReadStream(onlyStream());
  EXPECT_TRUE(Mentions(read.problems, GetParam().problem))
      << (read.problems.empty() ? "no problem" : read.problems[0]);
  uint64_t committed = 0;
  for (const StoreItem& item : read.items) committed += item.committed ? 1 : 0;
  EXPECT_EQ(GetParam().committedItems, committed);
}

void Commit(const StoreStreamInfo& info, const char* text) {
  ASSERT_TRUE(objstore_testing::WriteFile(info.committedPath, text));
}

void AppendItem(const StoreStreamInfo& info) {
  const StoreRecordHeader eof = MakeStoreRecordHeader(kStoreRecordEof, 1, nullptr, 0);
  int fd = ::open(info.dataPath.c_str(), O_WRONLY | O_APPEND);
  ASSERT_EQ(static_cast<ssize_t>(sizeof(eof)), ::write(fd, &eof, sizeof(eof)));
  ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, StoreCountTest,
    testing::Values(CountDamage{"EndedRunLosesItsCommittedFile", true,
                                [](const StoreStreamInfo& s) { ::unlink(s.committedPath.c_str()); },
                                "is missing, but its run ended with 3 committed", 3},
                    CountDamage{"EndedRunCountLowered", true,
                                [](const StoreStreamInfo& s) { Commit(s, "1\n"); },
                                "says 1 items, but its run ended with 3 committed", 3},
                    CountDamage{"EndedRunHoldsItemsBeyondItsCount", true, AppendItem,
                                "holds 1 items beyond the 3 committed", 3},
                    CountDamage{"UnfinishedRunCountLowered", false,
                                [](const StoreStreamInfo& s) { Commit(s, "1\n"); },
                                "says 1 items, but the stream's commit records prove 2", 1},
                    CountDamage{"UnfinishedRunLosesItsCommittedFile", false,
                                [](const StoreStreamInfo& s) { ::unlink(s.committedPath.c_str()); },
                                "is missing, but the stream's commit records prove 2", 0},
                    CountDamage{"UnfinishedRunCountRaised", false,
                                [](const StoreStreamInfo& s) { Commit(s, "4\n"); },
                                "holds only 3 readable whole items of the 4 committed", 3}),
    [](const testing::TestParamInfo<CountDamage>& info) { return info.param.name; });

TEST_F(StoreIntegrityTest, ALostDataFileIsNamedWhetherTheRunEndedOrNot) {
  for (bool ended : {true, false}) {
    const StoreStreamInfo info = writeRun(ended);
    ASSERT_EQ(0, ::unlink(info.dataPath.c_str()));
    std::vector<StoreRun> all = runs();
    ASSERT_EQ(1u, all.size());
    EXPECT_TRUE(all[0].streams.empty());
    ASSERT_EQ(1u, all[0].problems.size()) << ended;
    EXPECT_EQ(0u, all[0].problems[0].find("[" + info.dataPath + "] is missing"))
        << all[0].problems[0];
    std::filesystem::remove_all(store_);
  }
}

TEST_F(StoreIntegrityTest, ALostManifestIsNamedButAStartThatDiedEarlyIsNoRun) {
  const StoreStreamInfo info = writeRun(true);
  const std::string runDir = info.dataPath.substr(0, info.dataPath.rfind('/'));
  ASSERT_EQ(0, ::unlink((runDir + "/MANIFEST").c_str()));
  ASSERT_EQ(0, ::mkdir((store_ + "/7.died-at-once").c_str(), 0777));
  std::vector<StoreRun> all = runs();
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ(7, all[0].manifest.jobId);  // from the directory's name
  ASSERT_EQ(1u, all[0].problems.size());
  EXPECT_NE(std::string::npos, all[0].problems[0].find("MANIFEST] failed")) << all[0].problems[0];
  EXPECT_EQ(1u, all[0].streams.size());  // its data is still read
}

TEST_F(StoreIntegrityTest, OlderFormatIsRefusedByName) {
  const StoreStreamInfo info = writeRun(true);
  std::string bytes = objstore_testing::ReadFile(info.dataPath);
  bytes[offsetof(StoreFileHeader, version)] = 1;
  ASSERT_TRUE(objstore_testing::WriteFile(info.dataPath, bytes));
  StoreStreamReader reader;
  const CUxError error = reader.open(info);
  EXPECT_EQ(kPipelineBadStore, error.GetErrorCode());
  EXPECT_NE(std::string::npos, error.GetMessage().find("store format 1, whose records carry no"))
      << error.GetMessage();
}

TEST_F(StoreIntegrityTest, AFullDiskBreaksTheStreamButNeverTheCounts) {
  // Data this large is written at once, so the send that meets the full disk fails itself.
  const std::string data(300 << 10, 'x');
  ASSERT_FALSE(PipelineFaults::Install("diskFullAfter=1MiB").IsError());
  CSynchronousBackupPtr job = startJob(1);
  boost::shared_ptr<RecordingCommitHandler> recorder = record(job);
  CStreamHandlerPtr handler = stream(job);
  const uint32_t id = handler->getAfileID();
  CUxError error;
  int sent = 0;
  for (; sent < 10; ++sent) {
    error = SendItem(handler, "item" + std::to_string(sent), data);
    if (error.IsError()) break;
    ASSERT_FALSE(handler->commitData().IsError());
    ASSERT_TRUE(recorder->waitForSequence(id, std::to_string(sent + 1)));
  }
  EXPECT_EQ(3, sent);
  EXPECT_EQ(kPipelineIoError, error.GetErrorCode());
  EXPECT_NE(std::string::npos, error.GetMessage().find("No space left on device"))
      << error.GetMessage();
  EXPECT_TRUE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());  // its manifest does not fit
  PipelineFaults::Clear();

  const Read read = ReadStream(onlyStream());
  EXPECT_TRUE(read.problems.empty()) << read.problems[0];
  ASSERT_EQ(3u, read.items.size());
  for (const StoreItem& item : read.items) {
    EXPECT_TRUE(item.committed && item.success && item.damage.empty());
    EXPECT_EQ(data, item.sections[2].bytes);
  }
}

}  // namespace
}  // namespace pipeline_testing

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

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

// Every problem that reading the whole store finds: the runs', and each stream's, read to its
// end.
std::vector<std::string> ReadEverything(const std::string& store) {
  std::vector<StoreRun> runs;
  std::vector<std::string> problems;
  EXPECT_FALSE(BackupStoreReader(store).listRuns(&runs).IsError());
  for (const StoreRun& run : runs) {
    problems.insert(problems.end(), run.problems.begin(), run.problems.end());
    for (const StoreStreamInfo& stream : run.streams) {
      StoreStreamReader reader;
      CUxError error = reader.open(stream);
      StoreItem item;
      for (bool more = !error.IsError(); more;) {
        error = reader.next(&item, &more);
        if (error.IsError()) break;
      }
      if (error.IsError()) problems.push_back(error.GetMessage());
      problems.insert(problems.end(), reader.problems().begin(), reader.problems().end());
    }
  }
  return problems;
}

long MaxResidentKiB() {
  struct rusage usage = {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct HostileRunFile {
  const char* name;
  const char* file;  // "MANIFEST", or the only stream's "data" or "committed" file
  std::function<void(const std::string& path)> make;
  const char* problem;
};

void Sparse(const std::string& path, bool keepContent) {
  if (!keepContent) {
    ASSERT_TRUE(objstore_testing::WriteFile(path, ""));
  }
  ASSERT_EQ(0, ::truncate(path.c_str(), 6ll << 30)) << std::strerror(errno);
}

const HostileRunFile kHostileRunFiles[] = {
    {"ManifestLinkToDevZero", "MANIFEST",
     [](const std::string& p) { ASSERT_EQ(0, ::symlink("/dev/zero", p.c_str())); },
     "is a symbolic link"},
    {"ManifestFifo", "MANIFEST",
     [](const std::string& p) { ASSERT_EQ(0, ::mkfifo(p.c_str(), 0600)); }, "is a FIFO"},
    {"ManifestSparse", "MANIFEST", [](const std::string& p) { Sparse(p, false); },
     "more than the 1048576"},
    {"CommittedSparse", "committed", [](const std::string& p) { Sparse(p, false); },
     "more than the 32"},
    {"CommittedLinkToDevZero", "committed",
     [](const std::string& p) { ASSERT_EQ(0, ::symlink("/dev/zero", p.c_str())); },
     "is a symbolic link"},
    {"DataFifo", "data", [](const std::string& p) { ASSERT_EQ(0, ::mkfifo(p.c_str(), 0600)); },
     "is a FIFO"},
    {"DataLinkToDevZero", "data",
     [](const std::string& p) { ASSERT_EQ(0, ::symlink("/dev/zero", p.c_str())); },
     "is a symbolic link"},
    {"DataSparseTail", "data", [](const std::string& p) { Sparse(p, true); },
     "bytes to the end hold no intact record"},
    {"DataSparseWhole", "data", [](const std::string& p) { Sparse(p, false); },
     "not a backup-store data file"},
};

class HostileRunFileTest : public PipelineTest,
                           public testing::WithParamInterface<HostileRunFile> {};

TEST_P(HostileRunFileTest, IsReportedInBoundedMemory) {
  CSynchronousBackupPtr job = startJob(1);
  CStreamHandlerPtr handler = stream(job);
  ASSERT_FALSE(SendItem(handler, "one").IsError());
  ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  const StoreRun run = runs().at(0);
  const std::string file = GetParam().file;
  const std::string path = file == "data"        ? run.streams.at(0).dataPath
                           : file == "committed" ? run.streams.at(0).committedPath
                                                 : run.dir + "/" + file;
  if (std::string(GetParam().name).find("Tail") == std::string::npos) ::unlink(path.c_str());
  GetParam().make(path);
  const long before = MaxResidentKiB();
  const std::vector<std::string> problems = ReadEverything(store_);
  EXPECT_LT(MaxResidentKiB() - before, 64 << 10);
  bool found = false;
  for (const std::string& problem : problems)
    found = found || problem.find(GetParam().problem) != std::string::npos;
  EXPECT_TRUE(found) << (problems.empty() ? "no problem" : problems.front()) << problems.size();
}

INSTANTIATE_TEST_SUITE_P(Files, HostileRunFileTest, testing::ValuesIn(kHostileRunFiles),
                         [](const testing::TestParamInfo<HostileRunFile>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(BackupStoreReaderTest, ARunCopiedUnderAnotherNameIsReported) {
  CSynchronousBackupPtr job = startJob(1);
  ASSERT_FALSE(SendItem(stream(job), "one").IsError());
  ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  const StoreRun run = runs().at(0);
  std::filesystem::copy(run.dir, store_ + "/7.copied", std::filesystem::copy_options::recursive);
  std::filesystem::copy(run.dir, store_ + "/8." + run.manifest.runId,
                        std::filesystem::copy_options::recursive);
  const std::vector<StoreRun> all = runs();
  ASSERT_EQ(3u, all.size());
  int renamed = 0;
  for (const StoreRun& each : all) {
    if (each.dir == run.dir) {
      EXPECT_TRUE(each.problems.empty()) << each.problems.front();
      continue;
    }
    ASSERT_EQ(1u, each.problems.size());
    EXPECT_NE(std::string::npos, each.problems[0].find("its manifest is that of run [7."))
        << each.problems[0];
    ++renamed;
  }
  EXPECT_EQ(2, renamed);
}

TEST_F(BackupStoreReaderTest, ALinkToARunIsNoRun) {
  CSynchronousBackupPtr job = startJob(1);
  ASSERT_FALSE(SendItem(stream(job), "one").IsError());
  ASSERT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
  const std::string dir = runs().at(0).dir;
  ASSERT_EQ(0, ::symlink(dir.c_str(), (store_ + "/7.linked").c_str()));
  EXPECT_EQ(1u, runs().size());
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

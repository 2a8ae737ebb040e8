// One damaged record costs one record: after any header that fails its checksum the reader goes
// on at the next intact record, so exactly the items that lost a record read as damaged, and
// every other item still reads, with its number and committed flag unchanged.
#include <unistd.h>

#include <random>
#include <set>

#include "Crc32c.h"
#include "StoreFormat.h"
#include "testing/PipelineTestSupport.h"

namespace pipeline_testing {
namespace {

const int kItems = 300;

// Where the records of each item start in a data file; commit records belong to no item.
std::vector<std::vector<uint64_t>> ItemRecords(const std::string& bytes) {
  std::vector<std::vector<uint64_t>> items(1);
  for (uint64_t at = sizeof(StoreFileHeader); at + sizeof(StoreRecordHeader) <= bytes.size();) {
    StoreRecordHeader header;
    memcpy(&header, bytes.data() + at, sizeof(header));
    if (header.type != kStoreRecordCommit) items.back().push_back(at);
    if (header.type == kStoreRecordEof) items.emplace_back();
    at += sizeof(header) + header.length;
  }
  items.pop_back();
  return items;
}

class StoreStreamReaderTest : public PipelineTest {
 protected:
  StoreStreamInfo writeStream() {
    setOptions(40, 0, 0);  // a commit record every 40 items
    CSynchronousBackupPtr job = startJob(1);
    CStreamHandlerPtr handler = stream(job);
    for (int i = 0; i < kItems; ++i) {
      EXPECT_FALSE(
          SendItem(handler, "item" + std::to_string(i), std::string(i % 97, 'x')).IsError());
    }
    EXPECT_FALSE(job->endBackup(KA_JOB_STATUS_COMPLETED).IsError());
    handler.reset();
    job.reset();
    return runs().at(0).streams.at(0);
  }
};

TEST_F(StoreStreamReaderTest, EachFlippedRecordHeaderCostsExactlyItsItem) {
  const StoreStreamInfo info = writeStream();
  std::string bytes = objstore_testing::ReadFile(info.dataPath);
  const std::vector<std::vector<uint64_t>> records = ItemRecords(bytes);
  ASSERT_EQ(static_cast<size_t>(kItems), records.size());
  std::mt19937 random(20);
  std::set<int> damaged;
  // Items at least two apart, so that no two lost records touch one item boundary.
  for (int item = random() % 3; item < kItems; item += 2 + random() % 9) {
    const std::vector<uint64_t>& its = records[item];
    const uint64_t header = its[random() % its.size()];
    bytes[header + random() % sizeof(StoreRecordHeader)] ^= static_cast<char>(1 + random() % 255);
    damaged.insert(item);
  }
  ASSERT_TRUE(objstore_testing::WriteFile(info.dataPath, bytes));

  StoreStreamReader reader;
  ASSERT_FALSE(reader.open(info).IsError());
  StoreItem item;
  std::set<int> reported;
  int index = 0;
  for (bool more = true; more; ++index) {
    ASSERT_FALSE(reader.next(&item, &more).IsError());
    if (!more) break;
    ASSERT_EQ(static_cast<uint64_t>(index), item.index);
    EXPECT_TRUE(item.committed) << index;
    if (!item.damage.empty()) {
      reported.insert(index);
      continue;
    }
    EXPECT_EQ("item" + std::to_string(index), item.name);
    EXPECT_TRUE(item.success) << index;
  }
  EXPECT_EQ(kItems, index);
  EXPECT_EQ(damaged, reported);
  // One line per damaged span; nothing else (the counts still agree).
  EXPECT_EQ(damaged.size(), reader.problems().size()) << reader.problems().back();
}

TEST_F(StoreStreamReaderTest, ADamagedLastRecordStillReportsItsItem) {
  const StoreStreamInfo info = writeStream();
  std::string bytes = objstore_testing::ReadFile(info.dataPath);
  const std::vector<std::vector<uint64_t>> records = ItemRecords(bytes);
  bytes[records.back().back() + 3] ^= 1;  // the last end-of-file record
  bytes.resize(records.back().back() + sizeof(StoreRecordHeader));
  ASSERT_TRUE(objstore_testing::WriteFile(info.dataPath, bytes));
  std::vector<StoreItem> items;
  StoreStreamReader reader;
  ASSERT_FALSE(reader.open(info).IsError());
  StoreItem item;
  for (bool more = true; more;) {
    ASSERT_FALSE(reader.next(&item, &more).IsError());
    if (more) items.push_back(item);
  }
  ASSERT_EQ(static_cast<size_t>(kItems), items.size());
  EXPECT_EQ("item" + std::to_string(kItems - 1), items.back().name);
  EXPECT_FALSE(items.back().damage.empty());
}

TEST_F(StoreStreamReaderTest, ARecordLongerThanItsKindAllowsIsDamageNotAnAllocation) {
  const StoreStreamInfo info = writeStream();
  // An intact header for 1 GiB of metadata, and a file that really is that long (a hole).
  const uint64_t length = uint64_t{1} << 30;
  std::string bytes = objstore_testing::ReadFile(info.dataPath);
  const uint64_t at = bytes.size();
  StoreRecordHeader crafted = {kStoreRecordMetaData, 5, length, 0, 0};
  crafted.headerCrc = Crc32c(&crafted, 20);
  bytes.append(reinterpret_cast<const char*>(&crafted), sizeof(crafted));
  ASSERT_TRUE(objstore_testing::WriteFile(info.dataPath, bytes));
  ASSERT_EQ(0,
            ::truncate(info.dataPath.c_str(), static_cast<off_t>(at + sizeof(crafted) + length)));
  StoreStreamReader reader;
  ASSERT_FALSE(reader.open(info).IsError());
  StoreItem item;
  int items = 0;
  for (bool more = true; more;) {
    ASSERT_FALSE(reader.next(&item, &more).IsError());
    items += more ? 1 : 0;
  }
  EXPECT_EQ(kItems, items);
  ASSERT_FALSE(reader.problems().empty());
  EXPECT_NE(std::string::npos,
            reader.problems()[0].find("the record at offset " + std::to_string(at) + " is damaged"))
      << reader.problems()[0];
  EXPECT_FALSE(reader.incompleteTail());
}

}  // namespace
}  // namespace pipeline_testing

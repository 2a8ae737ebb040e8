// StoreStreamReader: walks the items of one stream of the backup store, oldest first, and
// proves every record it reads against its checksums (the format is in StoreFormat.h).
//
// An item is what the stream received between two end-of-file records: its sections (header,
// metadata, data) in the order sent, and the end-of-file record's success flag and reason.
// Items are numbered from 0 in the order sent; an item is committed when its number is below
// the stream's committed count (StoreStreamInfo::committedCount).
//
// Damage does not stop the walk where it need not. A record whose payload fails its checksum
// marks its item as damaged and the walk goes on. A record whose header fails its checksum (or
// names no known type, or a length beyond its kind's bound, StoreRecordMaxBytes) costs that one
// record: the reader reports the damaged span and goes on at the next offset holding an intact
// record header, and the item that lost the record is returned with its damage set. No marker
// in the format is needed: a false match must pass a CRC-32C over 20 bytes, a known type and a
// length that fits. The one case it does not cover is a data payload that itself holds a copy
// of a store's data file: the search may then resume inside that copy. Counts that disagree (a
// committed file that is missing, lower or higher than the stream's own commit records or its run's
// manifest say, items beyond the committed count of a run that ended) are problems too. problems()
// holds one line per problem, naming the file; it is complete once next() has said there are no
// more items.
//
// A stream whose file ends inside a record or an item (its process died, or a write failed)
// ends after its last whole item; incompleteTail() then says so.
#ifndef OBJSTORE_PIPELINE_STORESTREAMREADER_H_
#define OBJSTORE_PIPELINE_STORESTREAMREADER_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "BackupStoreReader.h"
#include "CUxError.h"
#include "StoreFormat.h"

namespace OBJECTOPSAPI {

struct StoreSection {
  StoreRecordType type = kStoreRecordData;  // header, metadata or data
  uint32_t kind = 0;                        // the metadata kind; 0 for the others
  uint64_t length = 0;
  std::string bytes;  // the payload; left empty when the reader skips data payloads
};

struct StoreItem {
  // The item's name: the first identifier of its header's h_filename, without the '-' that pads
  // it to 40 characters (MakeCXFileHeader.h); the object's GUID when the host named items so.
  // "" when the item has no header.
  std::string name;
  uint64_t index = 0;
  uint64_t offset = 0;  // of its first record in the file
  std::vector<StoreSection> sections;
  bool success = false;  // the end-of-file record's flag
  std::string reason;    // the end-of-file record's reason text, usually empty
  bool committed = false;
  std::string damage;  // why the item cannot be trusted (a record failed its checksum); "": intact
};

class StoreStreamReader {
 public:
  StoreStreamReader() = default;
  ~StoreStreamReader();
  StoreStreamReader(const StoreStreamReader&) = delete;
  StoreStreamReader& operator=(const StoreStreamReader&) = delete;

  // Opens the stream's data file and checks its file header. Errors: the file cannot be opened
  // (kPipelineIoError); it is not a data file of this stream, or of an older format that this
  // reader refuses (kPipelineBadStore, with a message that says which).
  CUxError open(const StoreStreamInfo& stream);

  // Reads the next whole item into `item`; `more` is false (and `item` untouched) once there
  // are no more. With `readData` false, data sections carry their lengths only and their
  // checksums are not proven; the other payloads are always read and proven. Errors: the file
  // cannot be read (kPipelineIoError).
  CUxError next(StoreItem* item, bool* more, bool readData = true);

  // Reads every item of a stream; for small stores and tests. A problem is returned as a
  // kPipelineBadStore error.
  static CUxError ReadAll(const StoreStreamInfo& stream, std::vector<StoreItem>* items);

  const std::vector<std::string>& problems() const { return problems_; }
  uint64_t itemsRead() const { return itemsRead_; }
  bool incompleteTail() const { return incompleteTail_; }
  // How many items the stream's own commit records prove committed and reported: the count of
  // the last commit record but one (the last commit may have stopped before its report).
  uint64_t provenCommitted() const { return previousCommit_; }

 private:
  enum RecordStatus { kRecordRead, kRecordNone, kRecordBadHeader };
  CUxError readRecord(StoreRecordHeader* header, std::string* payload, bool readPayload,
                      RecordStatus* status);
  // Ends `building` as the next item.
  CUxError emit(StoreItem* building, StoreItem* item, bool* more);
  // Reports the damaged record at `at` and goes on at the next intact record.
  CUxError skipDamagedRecord(uint64_t at, StoreItem* building);
  void markLoss(StoreItem* building) const;
  // Whether the first record after a lost one shows that the lost one ended an item.
  bool endsLostItem(const StoreRecordHeader& header, const std::string& payload) const;
  CUxError seekTo(uint64_t offset);
  // Checks a commit record against the items before it.
  void noteCommitRecord(const StoreRecordHeader& header, const std::string& payload);
  void checkCounts();
  void addProblem(const std::string& text);
  void close();

  std::FILE* file_ = nullptr;
  StoreStreamInfo stream_;
  uint64_t offset_ = 0;
  uint64_t fileSize_ = 0;
  uint64_t itemsRead_ = 0;
  uint64_t lastCommit_ = 0;
  uint64_t previousCommit_ = 0;
  bool incompleteTail_ = false;
  bool finished_ = false;
  bool afterLoss_ = false;  // a damaged record was skipped; no intact item record read since
  uint64_t lossOffset_ = 0;
  std::vector<std::string> problems_;
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_STORESTREAMREADER_H_

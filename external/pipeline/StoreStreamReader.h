// StoreStreamReader: walks the items of one stream of the backup store, oldest first.
//
// An item is what the stream received between two end-of-file records: its sections (header,
// metadata, data) in the order sent, and the end-of-file record's success flag and reason.
// Items are numbered from 0 in the order sent; an item is committed when its number is below
// the stream's committed count.
//
// A stream whose file ends inside a record or an item (its process died, or a write failed)
// ends after its last whole item; incompleteTail() then says so. A record of unknown type, or a
// committed count above the number of whole items, is a kPipelineBadStore error.
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
  std::string bytes;  // the payload; left empty when the reader skips payloads
};

struct StoreItem {
  uint64_t index = 0;
  std::vector<StoreSection> sections;
  bool success = false;  // the end-of-file record's flag
  std::string reason;    // the end-of-file record's reason text, usually empty
  bool committed = false;
};

class StoreStreamReader {
 public:
  StoreStreamReader() = default;
  ~StoreStreamReader();
  StoreStreamReader(const StoreStreamReader&) = delete;
  StoreStreamReader& operator=(const StoreStreamReader&) = delete;

  // Opens the stream's data file and checks its file header.
  CUxError open(const StoreStreamInfo& stream);

  // Reads the next whole item into `item`; `more` is false (and `item` untouched) once there
  // are no more. With `readPayloads` false the sections carry their lengths only.
  CUxError next(StoreItem* item, bool* more, bool readPayloads = true);

  // Reads every item of a stream; for small stores and tests.
  static CUxError ReadAll(const StoreStreamInfo& stream, std::vector<StoreItem>* items);

  uint64_t itemsRead() const { return itemsRead_; }
  bool incompleteTail() const { return incompleteTail_; }

 private:
  // False at a clean end of file or a cut record (then incompleteTail_ is set).
  CUxError readRecord(StoreRecordHeader* header, std::string* payload, bool readPayload, bool* got);
  CUxError finish(bool* more);
  void close();

  std::FILE* file_ = nullptr;
  StoreStreamInfo stream_;
  uint64_t offset_ = 0;
  uint64_t fileSize_ = 0;
  uint64_t itemsRead_ = 0;
  bool incompleteTail_ = false;
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_STORESTREAMREADER_H_

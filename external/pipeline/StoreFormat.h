// The layout of the backup store on disk.
//
//   <store>/<jobId>.<runId>/           one directory per start of a job (a job restarted after a
//                                      crash gets a new run, so two runs' files never mix)
//     MANIFEST                         the job's description and settings (see JobManifest.h)
//     stream-<aFileId>.data            what the stream received, appended in order
//     stream-<aFileId>.committed       decimal count of the stream's committed items, replaced
//                                      atomically after the data file was synced
//
// A data file starts with a 16-byte file header (magic "OSPLSTRM", version, aFile ID) followed
// by records: type (4 bytes), kind (4), payload length (8), payload; integers little-endian.
// An item is every record after the previous end-of-file (or abandon) record up to and including
// its own. When a stream's end-of-file send fails, an abandon record ends the item at once: it
// counts as an item that did not succeed, so the stream's items never merge and the committed
// count keeps counting every item the stream ended.
// A file may end in an incomplete record or item (crash, write error); only whole items count.
#ifndef OBJSTORE_PIPELINE_STOREFORMAT_H_
#define OBJSTORE_PIPELINE_STOREFORMAT_H_

#include <cstdint>
#include <string>

namespace OBJECTOPSAPI {

enum StoreRecordType : uint32_t {
  kStoreRecordHeader = 1,    // payload: the CXFileHeader record; kind 0
  kStoreRecordMetaData = 2,  // payload: metadata bytes; kind: the metadata kind
  kStoreRecordData = 3,      // payload: data bytes; kind 0
  kStoreRecordEof = 4,       // payload: the reason text, if any; kind: 1 success, 0 failure
  kStoreRecordAbandon = 5,   // no payload: ends an item whose end-of-file record failed; the
                             // item counts as ended without success
};

struct StoreRecordHeader {
  uint32_t type;
  uint32_t kind;
  uint64_t length;
};
static_assert(sizeof(StoreRecordHeader) == 16, "records start with 16 bytes");

struct StoreFileHeader {
  char magic[8];  // kStoreFileMagic
  uint32_t version;
  uint32_t aFileId;
};
static_assert(sizeof(StoreFileHeader) == 16, "data files start with 16 bytes");

constexpr char kStoreFileMagic[8] = {'O', 'S', 'P', 'L', 'S', 'T', 'R', 'M'};
constexpr uint32_t kStoreFormatVersion = 1;
constexpr const char* kStoreManifestName = "MANIFEST";

std::string StoreDataFileName(uint32_t aFileId);
std::string StoreCommittedFileName(uint32_t aFileId);
// The aFile ID named by a data file's name; false for any other name.
bool ParseStoreDataFileName(const std::string& name, uint32_t* aFileId);

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_STOREFORMAT_H_

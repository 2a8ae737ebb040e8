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
// by records. A record is a 24-byte header, then its payload: type (4 bytes), kind (4), payload
// length (8), the payload's CRC-32C (4) and the CRC-32C of the header's first 20 bytes (4);
// integers little-endian. The header checksum covers the payload's checksum, so it proves the
// whole record, and a reader proves a header before it trusts the length in it.
//
// An item is every section record after the previous end-of-file (or abandon) record up to and
// including its own. When a stream's end-of-file send fails, an abandon record ends the item at
// once: it counts as an item that did not succeed, so the stream's items never merge and the
// committed count keeps counting every item the stream ended.
//
// Every commit first appends a commit record holding the stream's count of ended items, then
// syncs the file, then replaces the committed file. The file thus proves the counts it
// committed: a committed file that is lost, or lower than a count the stream went on from,
// shows as damage instead of silently dropping items.
//
// A file may end in an incomplete record or item (crash, write error); only whole items count.
// Version 1 files (records without checksums) are not read: a reader refuses them by name.
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
  kStoreRecordCommit = 6,    // payload: 8-byte count of the items ended before this record
};

struct StoreRecordHeader {
  uint32_t type;
  uint32_t kind;
  uint64_t length;
  uint32_t payloadCrc;
  uint32_t headerCrc;  // of the 20 bytes before it
};
static_assert(sizeof(StoreRecordHeader) == 24, "records start with 24 bytes");

struct StoreFileHeader {
  char magic[8];  // kStoreFileMagic
  uint32_t version;
  uint32_t aFileId;
};
static_assert(sizeof(StoreFileHeader) == 16, "data files start with 16 bytes");

constexpr char kStoreFileMagic[8] = {'O', 'S', 'P', 'L', 'S', 'T', 'R', 'M'};
constexpr uint32_t kStoreFormatVersion = 2;
constexpr const char* kStoreManifestName = "MANIFEST";
constexpr uint64_t kStoreCommitPayloadBytes = 8;

// The most bytes each kind of file or record holds in a store that this pipeline wrote. A reader
// refuses more before it allocates anything, so that a damaged or hostile store costs bounded
// memory whatever its length fields or file sizes say.
constexpr uint64_t kStoreManifestMaxBytes = 1 << 20;  // a few hundred bytes in practice
constexpr uint64_t kStoreCommittedMaxBytes = 32;      // a decimal count and a line feed
// Per record type: a stream header, metadata, one data section (the host's largest extent is
// 1 GiB), an end-of-file reason, nothing, a count.
uint64_t StoreRecordMaxBytes(uint32_t type);

// A record header for `length` bytes at `payload`, with both checksums.
StoreRecordHeader MakeStoreRecordHeader(uint32_t type, uint32_t kind, const void* payload,
                                        uint64_t length);
// True when the header's own checksum holds.
bool StoreRecordHeaderIntact(const StoreRecordHeader& header);

std::string StoreDataFileName(uint32_t aFileId);
std::string StoreCommittedFileName(uint32_t aFileId);
// The aFile ID named by a data file's name; false for any other name.
bool ParseStoreDataFileName(const std::string& name, uint32_t* aFileId);
// The job id and (when `runId` is not null) the run id of a run directory's name
// ("<jobId>.<runId>"); false for any other name.
bool ParseStoreRunDirName(const std::string& name, int64_t* jobId, std::string* runId = nullptr);

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_STOREFORMAT_H_

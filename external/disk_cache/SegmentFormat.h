// SegmentFormat: the byte layout of a segment file, and its encoding and checked decoding.
//
// All numbers are little-endian. A file is a 32-byte header, a table with one 24-byte entry per
// section, then the data of every section, in segment order:
//
//   header   0  u16  DISK_CACHE_MAGIC
//            2  u16  DISK_CACHE_VERSION
//            4  u32  number of sections
//            8  u64  total data bytes of all sections
//           16  u32  CRC-32C of the section table
//           20  u32  CRC-32C of all section data
//           24  u32  reserved, 0
//           28  u32  CRC-32C of header bytes 0 to 27
//   table    per section: i32 type, u32 metaDataType, u64 offset, u64 data size
//   data     the sections' data, back to back
//
// The table comes first so that a reader learns every section's size from the head of the file
// and reads the data straight into the sections. The header checksum is checked before any size
// in it is trusted, the table checksum before a section is made, and the data checksum before
// the sections are handed out: damage anywhere never turns into wrong sections.
#ifndef OBJSTORE_DISKCACHE_SEGMENTFORMAT_H_
#define OBJSTORE_DISKCACHE_SEGMENTFORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SectionV.h"

namespace ObjectStore {

constexpr size_t kSegmentHeaderSize = 32;
constexpr size_t kSectionEntrySize = 24;

// What a checked header says about its file.
struct SegmentLayout {
  uint32_t sectionCount = 0;
  uint64_t dataSize = 0;
  uint32_t tableCrc = 0;
  uint32_t dataCrc = 0;

  uint64_t tableEnd() const { return kSegmentHeaderSize + kSectionEntrySize * sectionCount; }
  uint64_t fileSize() const { return tableEnd() + dataSize; }
};

// The header and table for `sections`; the file is these bytes followed by each section's data.
std::vector<char> EncodeSegmentHead(const std::vector<SectionV>& sections);

// Checks the header of a file of `fileSize` bytes; `head` holds its first
// min(fileSize, kSegmentHeaderSize) bytes. Also checks that the file has exactly the size the
// header gives. On failure sets `problem` (e.g. "header checksum mismatch") and returns false.
bool DecodeSegmentHeader(const char* head, uint64_t fileSize, SegmentLayout* layout,
                         std::string* problem);

// Checks the table at `table` (the layout's sectionCount entries) and makes one section per entry,
// its data sized but not yet filled. On failure sets `problem` and returns false.
bool DecodeSectionTable(const char* table, const SegmentLayout& layout,
                        std::vector<SectionV>* sections, std::string* problem);

// Checks the filled sections' data against the layout's data checksum.
bool CheckSectionData(const std::vector<SectionV>& sections, const SegmentLayout& layout,
                      std::string* problem);

// Decodes a complete file held in memory. On success appends the sections to `sections`;
// otherwise leaves them untouched and sets `problem`. Never reads outside the `size` bytes.
bool DecodeSegment(const char* data, size_t size, std::vector<SectionV>* sections,
                   std::string* problem);

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_SEGMENTFORMAT_H_

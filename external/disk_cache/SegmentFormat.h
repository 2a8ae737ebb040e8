// SegmentFormat: the byte layout of a segment file, and its encoding and checked decoding.
//
// All numbers are little-endian. A file is a 32-byte header followed by the payload:
//
//   header   0  u16  DISK_CACHE_MAGIC
//            2  u16  DISK_CACHE_VERSION
//            4  u32  number of sections
//            8  u64  payload size in bytes
//           16  u32  CRC-32C of the payload
//           20  u64  reserved, 0
//           28  u32  CRC-32C of header bytes 0 to 27
//   payload  per section, in segment order: i32 type, u32 metaDataType, u64 offset,
//            u64 data size, then the data bytes.
//
// The header checksum is checked before any size in it is trusted, and the payload checksum
// before any section is parsed, so damage anywhere in the file is found and never turns into
// wrong sections.
#ifndef OBJSTORE_DISKCACHE_SEGMENTFORMAT_H_
#define OBJSTORE_DISKCACHE_SEGMENTFORMAT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "SectionV.h"

namespace ObjectStore {

constexpr size_t kSegmentHeaderSize = 32;
constexpr size_t kSectionDescriptorSize = 24;

// The complete file content for `sections`.
std::vector<char> EncodeSegment(const std::vector<SectionV>& sections);

// Decodes the complete file content at `data`. On success appends the sections to `sections`
// and returns true; otherwise leaves `sections` untouched, sets `problem` to what is wrong
// (e.g. "payload checksum mismatch") and returns false. Never reads outside the `size` bytes.
bool DecodeSegment(const char* data, size_t size, std::vector<SectionV>* sections,
                   std::string* problem);

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_SEGMENTFORMAT_H_

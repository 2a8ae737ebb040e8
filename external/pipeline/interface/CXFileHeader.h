// CXFileHeader: the stream header record that starts every item.
//
// A fixed record of 256 bytes. `h_filename` starts at byte 132 and holds two 40-character
// identifiers joined by a comma at byte 172, NUL-terminated at byte 213.
#ifndef OBJSTORE_PIPELINE_CXFILEHEADER_H_
#define OBJSTORE_PIPELINE_CXFILEHEADER_H_

#include <cstddef>
#include <cstdint>

namespace OBJECTOPSAPI {

struct CXFileHeader {
  char h_magic[8];   // "CXHDR01\0"
  uint64_t h_size;   // logical object size in bytes, as the writer knew it
  uint64_t h_mtime;  // seconds since the epoch
  uint32_t h_mode;   // POSIX mode bits
  uint32_t h_flags;
  char h_reserved[100];
  char h_filename[124];  // byte 132: "<id1>,<id2>"
};

static_assert(offsetof(CXFileHeader, h_filename) == 132, "h_filename must start at byte 132");
static_assert(sizeof(CXFileHeader) == 256, "CXFileHeader is a 256-byte record");

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_CXFILEHEADER_H_

// SectionV: one section of a cached segment.
#ifndef OBJSTORE_DISKCACHE_SECTIONV_H_
#define OBJSTORE_DISKCACHE_SECTIONV_H_

#include <cstdint>
#include <vector>

namespace ObjectStore {

// Types in use: 0 stream header (a CXFileHeader record), 1 file data, 2 metadata; others may
// occur.
struct SectionV {
  int32_t type = 0;
  uint32_t metaDataType = 0;  // for metadata: the kind of metadata, passed on to the pipeline
  // Not read by the backup library and not sent: the pipeline keeps an object's data sections in
  // the order sent, so a reader puts the object together by concatenating them.
  uint64_t offset = 0;
  std::vector<char> data;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_SECTIONV_H_

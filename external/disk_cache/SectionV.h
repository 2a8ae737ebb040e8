// SectionV: one section of a cached segment.
#ifndef OBJSTORE_DISKCACHE_SECTIONV_H_
#define OBJSTORE_DISKCACHE_SECTIONV_H_

#include <cstdint>
#include <vector>

namespace ObjectStore {

enum SectionType : int32_t {
  kSectionStreamHeader = 0,  // "cxheader": a CXFileHeader record
  kSectionFileData = 1,
  kSectionMetaData = 2,
};

struct SectionV {
  int32_t type = 0;
  uint32_t metaDataType = 0;
  uint64_t offset = 0;  // where the section's bytes belong in the object (data sections)
  std::vector<char> data;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_SECTIONV_H_

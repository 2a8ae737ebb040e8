// The section types of the stand-in's segments, for the programs that write and read them.
#ifndef OBJSTORE_DISKCACHE_SECTIONTYPES_H_
#define OBJSTORE_DISKCACHE_SECTIONTYPES_H_

#include <cstdint>

namespace ObjectStore {

enum SectionType : int32_t {
  kSectionStreamHeader = 0,  // "cxheader": a CXFileHeader record
  kSectionFileData = 1,
  kSectionMetaData = 2,
};

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_SECTIONTYPES_H_

// Constants shared by the disk cache and its users.
#ifndef OBJSTORE_DISKCACHE_DISKCACHECONSTANTS_H_
#define OBJSTORE_DISKCACHE_DISKCACHECONSTANTS_H_

#include <cstdint>

namespace ObjectStore {

constexpr uint16_t DISK_CACHE_MAGIC = 0xdcdc;
constexpr uint16_t DISK_CACHE_VERSION = 1;
constexpr uint32_t MAX_SECTION_NUMBER = 5;
constexpr uint32_t GUID_CHAR_SIZE = 44;
constexpr uint32_t GUID_CHAR_SIZE_EXTENT = 40;  // width of an identifier in h_filename
constexpr uint32_t GUID_CHAR_SIZE_MIN = 32;     // identifiers up to this length are short

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_DISKCACHECONSTANTS_H_

// Reading an item's stream header section. Internal to the library.
#ifndef OBJSTORE_BACKUP_ITEMHEADER_H_
#define OBJSTORE_BACKUP_ITEMHEADER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "SectionV.h"

namespace ObjectStore {

// Section types of a cached segment: the stream header (a CXFileHeader record), file data and
// metadata. Sections of other types are not sent.
enum ItemSectionType : int32_t {
  kStreamHeaderSection = 0,
  kFileDataSection = 1,
  kMetaDataSection = 2,
};

// Where the stream header's h_filename text starts, and where the comma that ends its first
// identifier stands; each of the two identifiers is at most 40 characters wide.
constexpr size_t kHeaderFilenameOffset = 132;
constexpr size_t kHeaderCommaOffset = 172;
constexpr size_t kHeaderIdentifierChars = 40;

// The h_filename text of a header section (from byte 132 up to its NUL, bounded by the data).
std::string HeaderFilenameText(const std::vector<char>& data);

// The identifier after the comma in h_filename: up to 40 characters from text position 41.
// False when the data cannot hold a readable h_filename: shorter than 173 bytes, no comma at
// byte 172, no NUL within the data, or a text that ends before the comma.
// The key points into `data`.
bool ReadStreamKey(const std::vector<char>& data, std::string_view* key);

// The first section of `type`, or null.
const SectionV* FindSection(const std::vector<SectionV>& sections, int type);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_ITEMHEADER_H_

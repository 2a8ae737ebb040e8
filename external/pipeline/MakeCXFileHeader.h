// MakeCXFileHeader: builds the stream header record that starts every item, for hosts that write
// segments into the stand-in disk cache, and the positions in it that readers of the store use.
#ifndef OBJSTORE_PIPELINE_MAKECXFILEHEADER_H_
#define OBJSTORE_PIPELINE_MAKECXFILEHEADER_H_

#include <cstddef>
#include <string>

#include "CXFileHeader.h"

namespace OBJECTOPSAPI {

constexpr size_t kCXFileHeaderFilenameOffset = 132;
constexpr size_t kCXFileHeaderCommaOffset = 172;
constexpr size_t kCXFileHeaderIdChars = 40;

// A header whose h_filename is `id1` "," `id2`: `id1` cut or padded with '-' to exactly 40
// characters (so the comma always stands at byte 172), `id2` cut to at most 40 characters; the
// rest of the record is zero but for its magic. The backup library chooses an item's stream from
// `id2`: give every object a distinct `id2` of 40 characters, such as a hex digest (an `id2` of
// 32 characters or fewer is judged by its first character alone).
CXFileHeader MakeCXFileHeader(const std::string& id1, const std::string& id2);

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_MAKECXFILEHEADER_H_

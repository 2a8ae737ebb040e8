#include "MakeCXFileHeader.h"

#include <cstring>

namespace OBJECTOPSAPI {

CXFileHeader MakeCXFileHeader(const std::string& id1, const std::string& id2) {
  CXFileHeader header;
  std::memset(&header, 0, sizeof(header));
  std::memcpy(header.h_magic, "CXHDR01", 8);

  // The first identifier always fills exactly 40 characters so that readers find the comma at
  // a fixed offset; the rest of h_filename stays NUL.
  std::string first = id1.substr(0, kCXFileHeaderIdChars);
  first.resize(kCXFileHeaderIdChars, '-');
  std::string name = first + "," + id2.substr(0, kCXFileHeaderIdChars);
  std::memcpy(header.h_filename, name.data(), name.size());
  return header;
}

}  // namespace OBJECTOPSAPI

#include "ObjectId.h"

#include <boost/uuid/detail/sha1.hpp>
#include <cstdio>

namespace objstore_host {

std::string Sha1Hex(const std::string& bytes) {
  boost::uuids::detail::sha1 sha;
  sha.process_bytes(bytes.data(), bytes.size());
  unsigned int digest[5];
  sha.get_digest(digest);
  char text[41];
  for (int i = 0; i < 5; ++i) std::snprintf(text + 8 * i, 9, "%08x", digest[i]);
  return std::string(text, 40);
}

// The prefixes keep an object's GUID and its source identifier apart even for equal paths.
std::string ObjectGuid(const std::string& relativePath) {
  return Sha1Hex("object:" + relativePath);
}

std::string SourceId(const std::string& absolutePath) {
  return Sha1Hex("source:" + absolutePath);
}

}  // namespace objstore_host

#include "ObjectId.h"

#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

namespace objstore_host {

std::string Sha1Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr) != 1 ||
      length != 20) {
    throw std::runtime_error("SHA-1 digest failed");
  }
  char text[41];
  for (unsigned int i = 0; i < length; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
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

// Identifiers of the host program's objects: 40 hexadecimal characters, the width the stream
// header gives each of its two identifiers.
#ifndef OBJSTORE_HOST_OBJECTID_H_
#define OBJSTORE_HOST_OBJECTID_H_

#include <string>

namespace objstore_host {

// The GUID of the object stored under `relativePath`. The same path always gives the same GUID,
// so ingesting a tree again replaces its segments instead of adding new ones.
std::string ObjectGuid(const std::string& relativePath);

// The identifier of the source an object was read from (its absolute path). The library picks an
// object's stream from this identifier, so objects from different sources spread over streams.
std::string SourceId(const std::string& absolutePath);

// The SHA-1 digest of `bytes` as 40 lowercase hexadecimal characters. Throws std::runtime_error
// when the crypto library cannot make one (SHA-1 switched off in its configuration).
std::string Sha1Hex(const std::string& bytes);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_OBJECTID_H_

// Item sending's reading of a stream header section: the h_filename text, the stream key after
// its comma and the checksum that picks the stream, on header bytes from the input.
#include <string>
#include <string_view>
#include <vector>

#include "FastChecksum.h"
#include "ItemHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<char> header(data, data + size);
  const std::string filename = ObjectStore::HeaderFilenameText(header);
  std::string_view key;
  if (ObjectStore::ReadStreamKey(header, &key)) {
    // The key points into the header.
    if (key.data() < header.data() || key.data() + key.size() > header.data() + header.size()) {
      __builtin_trap();
    }
    ObjectStore::fastChecksum(key.data(), key.size());
  }
  ObjectStore::fastChecksum(filename);
  return 0;
}

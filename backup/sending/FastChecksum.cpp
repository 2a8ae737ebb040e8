#include "FastChecksum.h"

#include <cstdint>

#include "DiskCacheConstants.h"

namespace ObjectStore {

int fastChecksum(const std::string& text) {
  return fastChecksum(text.data(), text.size());
}

int fastChecksum(const char* text, size_t n) {
  if (n == 0) return 0;
  auto at = [text](size_t i) { return static_cast<int32_t>(static_cast<int8_t>(text[i])); };
  if (n <= GUID_CHAR_SIZE_MIN) return at(0);
  return at(0) + at(n - 1) + at(n - 2) + at(n - 3) + at(n - 4);
}

}  // namespace ObjectStore

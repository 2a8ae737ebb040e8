#include "KeyRules.h"

#include <cstdint>

#include "ObjectMetadata.h"

namespace objstore_host {

namespace {

// The number of continuation bytes a lead byte announces; -1 for a byte that cannot lead.
int ContinuationBytes(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int more = ContinuationBytes(lead);
    if (more < 0 || text.size() - i <= static_cast<size_t>(more)) return false;
    uint32_t value = lead & (0x7F >> (more == 0 ? 0 : more + 1));
    for (int k = 1; k <= more; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    // Overlong three- and four-byte forms, UTF-16 surrogates, and values past U+10FFFF.
    if (more == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) return false;
    if (more == 3 && (value < 0x10000 || value > 0x10FFFF)) return false;
    i += static_cast<size_t>(more) + 1;
  }
  return true;
}

bool CheckObjectKey(const std::string& key, std::string* reason) {
  if (key.empty()) {
    *reason = "the key is empty";
  } else if (key.size() > kMaxKeyBytes) {
    *reason = "the key is longer than " + std::to_string(kMaxKeyBytes) + " bytes";
  } else if (key.find('\0') != std::string::npos) {
    *reason = "the key holds a NUL byte";
  } else if (!IsValidUtf8(key)) {
    *reason = "the key is not valid UTF-8";
  } else if (key[0] == '/') {
    *reason = "the key starts with '/'";
  } else if (!ObjectMetadata::IsSafeRelativePath(key)) {
    *reason = "the key has an empty, '.' or '..' segment";
  } else {
    return true;
  }
  return false;
}

}  // namespace objstore_host

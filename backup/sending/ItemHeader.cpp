#include "ItemHeader.h"

#include <algorithm>
#include <cstring>

namespace ObjectStore {

namespace {
const size_t kFilenameOffset = kHeaderFilenameOffset;
const size_t kCommaOffset = kHeaderCommaOffset;
const size_t kKeyPosition = kCommaOffset - kFilenameOffset + 1;  // 41 in the text
}  // namespace

std::string HeaderFilenameText(const std::vector<char>& data) {
  if (data.size() <= kFilenameOffset) return std::string();
  const char* text = data.data() + kFilenameOffset;
  return std::string(text, strnlen(text, data.size() - kFilenameOffset));
}

bool ReadStreamKey(const std::vector<char>& data, std::string_view* key) {
  if (data.size() <= kCommaOffset || data[kCommaOffset] != ',') return false;
  const char* text = data.data() + kFilenameOffset;
  const size_t room = data.size() - kFilenameOffset;
  const size_t length = strnlen(text, room);
  if (length == room || length < kKeyPosition) return false;
  *key = std::string_view(text + kKeyPosition,
                          std::min<size_t>(length - kKeyPosition, kHeaderIdentifierChars));
  return true;
}

const SectionV* FindSection(const std::vector<SectionV>& sections, int type) {
  for (const SectionV& section : sections) {
    if (section.type == type) return &section;
  }
  return nullptr;
}

}  // namespace ObjectStore

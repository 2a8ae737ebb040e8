#include "ByteSize.h"

bool ParseByteSize(const std::string& text, uint64_t* bytes) {
  static const struct {
    const char* suffix;
    unsigned shift;
  } kUnits[] = {{"KiB", 10}, {"MiB", 20}, {"GiB", 30}, {"", 0}};
  const uint64_t kLargest = UINT64_MAX - 1;
  for (const auto& unit : kUnits) {
    const std::string suffix = unit.suffix;
    if (text.size() <= suffix.size() ||
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < text.size() - suffix.size(); ++i) {
      const char c = text[i];
      if (c < '0' || c > '9' || value > (kLargest - (c - '0')) / 10) return false;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > (kLargest >> unit.shift)) return false;
    *bytes = value << unit.shift;
    return true;
  }
  return false;
}

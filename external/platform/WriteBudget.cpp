#include "WriteBudget.h"

#include <algorithm>

uint64_t WriteBudget::take(uint64_t wanted) {
  uint64_t left = left_.load();
  for (;;) {
    if (left == kUnlimited) return wanted;
    const uint64_t granted = std::min(left, wanted);
    if (left_.compare_exchange_weak(left, left - granted)) return granted;
  }
}

bool WriteBudget::ParseSize(const std::string& text, uint64_t* bytes) {
  static const struct {
    const char* suffix;
    unsigned shift;
  } kUnits[] = {{"KiB", 10}, {"MiB", 20}, {"GiB", 30}, {"", 0}};
  for (const auto& unit : kUnits) {
    const std::string suffix = unit.suffix;
    if (text.size() <= suffix.size() ||
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    const std::string digits = text.substr(0, text.size() - suffix.size());
    uint64_t value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9' || value > (kUnlimited - 1 - (c - '0')) / 10) return false;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > ((kUnlimited - 1) >> unit.shift)) return false;
    *bytes = value << unit.shift;
    return true;
  }
  return false;
}

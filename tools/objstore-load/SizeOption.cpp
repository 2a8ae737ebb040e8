#include "SizeOption.h"

#include <cctype>

namespace objstore_load {

bool ParseSize(const std::string& text, uint64_t* bytes) {
  size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || digits > 13) return false;
  const std::string unit = text.substr(digits);
  int shift = 0;
  if (unit == "KiB") {
    shift = 10;
  } else if (unit == "MiB") {
    shift = 20;
  } else if (unit == "GiB") {
    shift = 30;
  } else if (!unit.empty()) {
    return false;
  }
  const uint64_t value = std::stoull(text.substr(0, digits)) << shift;
  if (value > (uint64_t{1} << 40)) return false;
  *bytes = value;
  return true;
}

}  // namespace objstore_load

#include "StoreFormat.h"

namespace OBJECTOPSAPI {

namespace {
const std::string kPrefix = "stream-";
const std::string kDataSuffix = ".data";
}  // namespace

std::string StoreDataFileName(uint32_t aFileId) {
  return kPrefix + std::to_string(aFileId) + kDataSuffix;
}

std::string StoreCommittedFileName(uint32_t aFileId) {
  return kPrefix + std::to_string(aFileId) + ".committed";
}

bool ParseStoreDataFileName(const std::string& name, uint32_t* aFileId) {
  if (name.size() <= kPrefix.size() + kDataSuffix.size()) return false;
  if (name.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  if (name.compare(name.size() - kDataSuffix.size(), kDataSuffix.size(), kDataSuffix) != 0) {
    return false;
  }
  std::string digits =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kDataSuffix.size());
  if (digits.size() > 10) return false;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value == 0 || value > UINT32_MAX) return false;
  *aFileId = static_cast<uint32_t>(value);
  return true;
}

}  // namespace OBJECTOPSAPI

#include "StoreFormat.h"

#include <cstddef>

#include "Crc32c.h"

namespace OBJECTOPSAPI {

namespace {

const std::string kPrefix = "stream-";
const std::string kDataSuffix = ".data";
constexpr size_t kHeaderCrcCovers = offsetof(StoreRecordHeader, headerCrc);

// A whole decimal number of at most `maxDigits` digits; false on anything else.
bool ParseDigits(const std::string& digits, size_t maxDigits, uint64_t* value) {
  if (digits.empty() || digits.size() > maxDigits) return false;
  *value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    *value = *value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

StoreRecordHeader MakeStoreRecordHeader(uint32_t type, uint32_t kind, const void* payload,
                                        uint64_t length) {
  StoreRecordHeader header = {type, kind, length, 0, 0};
  header.payloadCrc = length == 0 ? 0 : Crc32c(payload, length);
  header.headerCrc = Crc32c(&header, kHeaderCrcCovers);
  return header;
}

bool StoreRecordHeaderIntact(const StoreRecordHeader& header) {
  return header.headerCrc == Crc32c(&header, kHeaderCrcCovers);
}

uint64_t StoreRecordMaxBytes(uint32_t type) {
  switch (type) {
    case kStoreRecordHeader:
      return 64 << 10;
    case kStoreRecordMetaData:
      return 16 << 20;
    case kStoreRecordData:
      return uint64_t{1} << 30;
    case kStoreRecordEof:
      return 64 << 10;
    case kStoreRecordAbandon:
      return 0;
    case kStoreRecordCommit:
      return kStoreCommitPayloadBytes;
  }
  return 0;
}

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
  uint64_t value = 0;
  if (!ParseDigits(name.substr(kPrefix.size(), name.size() - kPrefix.size() - kDataSuffix.size()),
                   10, &value) ||
      value == 0 || value > UINT32_MAX) {
    return false;
  }
  *aFileId = static_cast<uint32_t>(value);
  return true;
}

bool ParseStoreRunDirName(const std::string& name, int64_t* jobId, std::string* runId) {
  const size_t dot = name.find('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return false;
  const bool negative = name[0] == '-';
  uint64_t value = 0;
  if (!ParseDigits(name.substr(negative ? 1 : 0, dot - (negative ? 1 : 0)), 18, &value)) {
    return false;
  }
  *jobId = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  if (runId != nullptr) *runId = name.substr(dot + 1);
  return true;
}

}  // namespace OBJECTOPSAPI

#include "SegmentFormat.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "Crc32c.h"
#include "DiskCacheConstants.h"

namespace ObjectStore {

namespace {

// Header field offsets.
constexpr size_t kMagicAt = 0;
constexpr size_t kVersionAt = 2;
constexpr size_t kSectionCountAt = 4;
constexpr size_t kDataSizeAt = 8;
constexpr size_t kTableCrcAt = 16;
constexpr size_t kDataCrcAt = 20;
constexpr size_t kHeaderCrcAt = 28;

void PutLittleEndian(char* out, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

uint64_t GetLittleEndian(const char* in, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i)
    value |= static_cast<uint64_t>(static_cast<unsigned char>(in[i])) << (8 * i);
  return value;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  return buffer;
}

unsigned long long Ull(uint64_t value) {
  return static_cast<unsigned long long>(value);
}

uint32_t DataCrc(const std::vector<SectionV>& sections) {
  uint32_t crc = 0;
  for (const SectionV& section : sections)
    crc = Crc32cExtend(crc, section.data.data(), section.data.size());
  return crc;
}

bool CheckFileSize(const SegmentLayout& layout, uint64_t fileSize, std::string* problem) {
  // A damaged size could be near 2^64; compare without overflowing.
  if (layout.dataSize > fileSize || layout.tableEnd() > fileSize - layout.dataSize) {
    *problem = Format("truncated: %llu bytes, the header promises more", Ull(fileSize));
    return false;
  }
  if (fileSize != layout.fileSize()) {
    *problem = Format("%llu unexpected bytes after the data", Ull(fileSize - layout.fileSize()));
    return false;
  }
  return true;
}

}  // namespace

std::vector<char> EncodeSegmentHead(const std::vector<SectionV>& sections) {
  std::vector<char> head(kSegmentHeaderSize + kSectionEntrySize * sections.size());
  char* entry = head.data() + kSegmentHeaderSize;
  uint64_t dataSize = 0;
  for (const SectionV& section : sections) {
    PutLittleEndian(entry, static_cast<uint32_t>(section.type), 4);
    PutLittleEndian(entry + 4, section.metaDataType, 4);
    PutLittleEndian(entry + 8, section.offset, 8);
    PutLittleEndian(entry + 16, section.data.size(), 8);
    dataSize += section.data.size();
    entry += kSectionEntrySize;
  }
  char* header = head.data();
  PutLittleEndian(header + kMagicAt, DISK_CACHE_MAGIC, 2);
  PutLittleEndian(header + kVersionAt, DISK_CACHE_VERSION, 2);
  PutLittleEndian(header + kSectionCountAt, sections.size(), 4);
  PutLittleEndian(header + kDataSizeAt, dataSize, 8);
  PutLittleEndian(header + kTableCrcAt,
                  Crc32c(header + kSegmentHeaderSize, head.size() - kSegmentHeaderSize), 4);
  PutLittleEndian(header + kDataCrcAt, DataCrc(sections), 4);
  PutLittleEndian(header + kHeaderCrcAt, Crc32c(header, kHeaderCrcAt), 4);
  return head;
}

bool DecodeSegmentHeader(const char* head, uint64_t fileSize, SegmentLayout* layout,
                         std::string* problem) {
  if (fileSize < kSegmentHeaderSize) {
    *problem = Format("truncated: %llu bytes, shorter than the %zu-byte header", Ull(fileSize),
                      kSegmentHeaderSize);
    return false;
  }
  uint64_t magic = GetLittleEndian(head + kMagicAt, 2);
  if (magic != DISK_CACHE_MAGIC) {
    *problem = Format("bad magic 0x%04llx, not a segment file", Ull(magic));
    return false;
  }
  uint64_t version = GetLittleEndian(head + kVersionAt, 2);
  if (version != DISK_CACHE_VERSION) {
    *problem = Format("unsupported version %llu (this cache reads version %u)", Ull(version),
                      DISK_CACHE_VERSION);
    return false;
  }
  if (GetLittleEndian(head + kHeaderCrcAt, 4) != Crc32c(head, kHeaderCrcAt)) {
    *problem = "header checksum mismatch";
    return false;
  }
  layout->sectionCount = static_cast<uint32_t>(GetLittleEndian(head + kSectionCountAt, 4));
  layout->dataSize = GetLittleEndian(head + kDataSizeAt, 8);
  layout->tableCrc = static_cast<uint32_t>(GetLittleEndian(head + kTableCrcAt, 4));
  layout->dataCrc = static_cast<uint32_t>(GetLittleEndian(head + kDataCrcAt, 4));
  return CheckFileSize(*layout, fileSize, problem);
}

bool DecodeSectionTable(const char* table, const SegmentLayout& layout,
                        std::vector<SectionV>* sections, std::string* problem) {
  size_t tableSize = layout.tableEnd() - kSegmentHeaderSize;
  if (Crc32c(table, tableSize) != layout.tableCrc) {
    *problem = "section table checksum mismatch";
    return false;
  }
  std::vector<SectionV> decoded(layout.sectionCount);
  uint64_t dataLeft = layout.dataSize;
  for (SectionV& section : decoded) {
    section.type = static_cast<int32_t>(GetLittleEndian(table, 4));
    section.metaDataType = static_cast<uint32_t>(GetLittleEndian(table + 4, 4));
    section.offset = GetLittleEndian(table + 8, 8);
    uint64_t size = GetLittleEndian(table + 16, 8);
    table += kSectionEntrySize;
    // Only a faulty writer gets here with valid checksums, but a size must never exceed the file.
    if (size > dataLeft) {
      *problem = "section sizes exceed the data";
      return false;
    }
    dataLeft -= size;
    section.data.resize(size);
  }
  if (dataLeft != 0) {
    *problem = "section sizes fall short of the data";
    return false;
  }
  sections->swap(decoded);
  return true;
}

bool CheckSectionData(const std::vector<SectionV>& sections, const SegmentLayout& layout,
                      std::string* problem) {
  if (DataCrc(sections) == layout.dataCrc) return true;
  *problem = "data checksum mismatch";
  return false;
}

bool DecodeSegment(const char* data, size_t size, std::vector<SectionV>* sections,
                   std::string* problem) {
  SegmentLayout layout;
  std::vector<SectionV> decoded;
  if (!DecodeSegmentHeader(data, size, &layout, problem) ||
      !DecodeSectionTable(data + kSegmentHeaderSize, layout, &decoded, problem))
    return false;
  const char* next = data + layout.tableEnd();
  for (SectionV& section : decoded) {
    if (!section.data.empty()) std::memcpy(section.data.data(), next, section.data.size());
    next += section.data.size();
  }
  if (!CheckSectionData(decoded, layout, problem)) return false;
  sections->insert(sections->end(), std::make_move_iterator(decoded.begin()),
                   std::make_move_iterator(decoded.end()));
  return true;
}

}  // namespace ObjectStore

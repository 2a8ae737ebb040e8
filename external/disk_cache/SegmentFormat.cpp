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
constexpr size_t kPayloadSizeAt = 8;
constexpr size_t kPayloadCrcAt = 16;
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

void AppendLittleEndian(std::vector<char>* out, uint64_t value, size_t bytes) {
  char buffer[8];
  PutLittleEndian(buffer, value, bytes);
  out->insert(out->end(), buffer, buffer + bytes);
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

size_t EncodedSize(const std::vector<SectionV>& sections) {
  size_t size = kSegmentHeaderSize;
  for (const SectionV& section : sections) size += kSectionDescriptorSize + section.data.size();
  return size;
}

// Checks everything the header promises against the file; on success sets the section count.
bool CheckHeaderAndPayload(const char* data, size_t size, uint32_t* sectionCount,
                           std::string* problem) {
  if (size < kSegmentHeaderSize) {
    *problem =
        Format("truncated: %zu bytes, shorter than the %zu-byte header", size, kSegmentHeaderSize);
    return false;
  }
  uint64_t magic = GetLittleEndian(data + kMagicAt, 2);
  if (magic != DISK_CACHE_MAGIC) {
    *problem =
        Format("bad magic 0x%04llx, not a segment file", static_cast<unsigned long long>(magic));
    return false;
  }
  uint64_t version = GetLittleEndian(data + kVersionAt, 2);
  if (version != DISK_CACHE_VERSION) {
    *problem = Format("unsupported version %llu (this cache reads version %u)",
                      static_cast<unsigned long long>(version), DISK_CACHE_VERSION);
    return false;
  }
  if (GetLittleEndian(data + kHeaderCrcAt, 4) != Crc32c(data, kHeaderCrcAt)) {
    *problem = "header checksum mismatch";
    return false;
  }
  uint64_t payloadSize = GetLittleEndian(data + kPayloadSizeAt, 8);
  uint64_t present = size - kSegmentHeaderSize;
  if (payloadSize != present) {
    *problem = payloadSize > present
                   ? Format("truncated: %llu of %llu payload bytes present",
                            static_cast<unsigned long long>(present),
                            static_cast<unsigned long long>(payloadSize))
                   : Format("%llu unexpected bytes after the payload",
                            static_cast<unsigned long long>(present - payloadSize));
    return false;
  }
  if (GetLittleEndian(data + kPayloadCrcAt, 4) != Crc32c(data + kSegmentHeaderSize, payloadSize)) {
    *problem = "payload checksum mismatch";
    return false;
  }
  *sectionCount = static_cast<uint32_t>(GetLittleEndian(data + kSectionCountAt, 4));
  return true;
}

// Parses the sections of a checked payload. The checks only fail for a file written wrongly
// with valid checksums, but a bad length must never make us read past the end.
bool ParseSections(const char* payload, size_t size, uint32_t count,
                   std::vector<SectionV>* sections, std::string* problem) {
  if (count > size / kSectionDescriptorSize) {
    *problem = Format("%u sections cannot fit in %zu payload bytes", count, size);
    return false;
  }
  sections->reserve(count);
  size_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < kSectionDescriptorSize) {
      *problem = Format("section %u descriptor runs past the end", i);
      return false;
    }
    SectionV section;
    section.type = static_cast<int32_t>(GetLittleEndian(payload + at, 4));
    section.metaDataType = static_cast<uint32_t>(GetLittleEndian(payload + at + 4, 4));
    section.offset = GetLittleEndian(payload + at + 8, 8);
    uint64_t dataSize = GetLittleEndian(payload + at + 16, 8);
    at += kSectionDescriptorSize;
    if (dataSize > size - at) {
      *problem = Format("section %u data of %llu bytes runs past the end", i,
                        static_cast<unsigned long long>(dataSize));
      return false;
    }
    section.data.assign(payload + at, payload + at + dataSize);
    at += dataSize;
    sections->push_back(std::move(section));
  }
  if (at != size) {
    *problem = Format("%zu bytes after the last section", size - at);
    return false;
  }
  return true;
}

}  // namespace

std::vector<char> EncodeSegment(const std::vector<SectionV>& sections) {
  std::vector<char> out;
  out.reserve(EncodedSize(sections));
  out.resize(kSegmentHeaderSize);  // filled in once the payload checksum is known
  for (const SectionV& section : sections) {
    AppendLittleEndian(&out, static_cast<uint32_t>(section.type), 4);
    AppendLittleEndian(&out, section.metaDataType, 4);
    AppendLittleEndian(&out, section.offset, 8);
    AppendLittleEndian(&out, section.data.size(), 8);
    out.insert(out.end(), section.data.begin(), section.data.end());
  }
  size_t payloadSize = out.size() - kSegmentHeaderSize;
  char* header = out.data();
  PutLittleEndian(header + kMagicAt, DISK_CACHE_MAGIC, 2);
  PutLittleEndian(header + kVersionAt, DISK_CACHE_VERSION, 2);
  PutLittleEndian(header + kSectionCountAt, sections.size(), 4);
  PutLittleEndian(header + kPayloadSizeAt, payloadSize, 8);
  PutLittleEndian(header + kPayloadCrcAt, Crc32c(header + kSegmentHeaderSize, payloadSize), 4);
  PutLittleEndian(header + kHeaderCrcAt, Crc32c(header, kHeaderCrcAt), 4);
  return out;
}

bool DecodeSegment(const char* data, size_t size, std::vector<SectionV>* sections,
                   std::string* problem) {
  uint32_t count = 0;
  if (!CheckHeaderAndPayload(data, size, &count, problem)) return false;
  std::vector<SectionV> decoded;
  if (!ParseSections(data + kSegmentHeaderSize, size - kSegmentHeaderSize, count, &decoded,
                     problem))
    return false;
  sections->insert(sections->end(), std::make_move_iterator(decoded.begin()),
                   std::make_move_iterator(decoded.end()));
  return true;
}

}  // namespace ObjectStore

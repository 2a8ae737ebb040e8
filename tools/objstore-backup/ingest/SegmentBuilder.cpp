#include "SegmentBuilder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "MakeCXFileHeader.h"
#include "ObjectId.h"
#include "SectionTypes.h"

namespace objstore_host {

using ObjectStore::SectionV;

namespace {

// Closes a descriptor when the reading function returns.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

SegmentBuilder::SegmentBuilder(uint64_t extentSize)
    : extentSize_(std::max<uint64_t>(extentSize, 1)) {}

SectionV SegmentBuilder::HeaderSection(const ObjectMetadata& metadata,
                                       const std::string& sourceId) {
  OBJECTOPSAPI::CXFileHeader header =
      OBJECTOPSAPI::MakeCXFileHeader(ObjectGuid(metadata.path), sourceId);
  header.h_size = metadata.size;
  header.h_mtime = static_cast<uint64_t>(metadata.mtimeSeconds);
  header.h_mode = metadata.mode;
  SectionV section;
  section.type = ObjectStore::kSectionStreamHeader;
  const char* bytes = reinterpret_cast<const char*>(&header);
  section.data.assign(bytes, bytes + sizeof(header));
  return section;
}

SectionV SegmentBuilder::MetadataSection(const ObjectMetadata& metadata) {
  SectionV section;
  section.type = ObjectStore::kSectionMetaData;
  section.metaDataType = ObjectMetadata::kSectionKind;
  const std::string text = metadata.serialize();
  section.data.assign(text.begin(), text.end());
  return section;
}

bool SegmentBuilder::build(const SourceEntry& entry, std::vector<SectionV>* sections,
                           std::string* error) const {
  ObjectMetadata metadata;
  if (!SourceTree::Describe(entry, &metadata, error)) return false;
  std::vector<SectionV> data;
  if (entry.kind == ObjectKind::kFile && !readData(entry, &data, &metadata.size, error)) {
    return false;
  }
  sections->clear();
  sections->push_back(HeaderSection(metadata, SourceId(entry.absolutePath)));
  sections->push_back(MetadataSection(metadata));
  for (SectionV& section : data) sections->push_back(std::move(section));
  return true;
}

bool SegmentBuilder::readData(const SourceEntry& entry, std::vector<SectionV>* sections,
                              uint64_t* size, std::string* error) const {
  FdCloser file{open(entry.absolutePath.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) {
    *error = "cannot open [" + entry.absolutePath + "]: " + std::strerror(errno);
    return false;
  }
  // Each read asks for one byte more than the size seen by lstat, so that a short read marks
  // the end of the file without a second, extent-sized buffer; a file that grew reads on.
  const uint64_t sizeSeen = static_cast<uint64_t>(entry.status.st_size);
  uint64_t offset = 0;
  for (;;) {
    SectionV section;
    section.type = ObjectStore::kSectionFileData;
    section.offset = offset;
    const uint64_t remaining = sizeSeen > offset ? sizeSeen - offset : 0;
    section.data.resize(std::min(extentSize_, remaining + 1));
    size_t filled = 0;
    while (filled < section.data.size()) {
      ssize_t n = read(file.fd, section.data.data() + filled, section.data.size() - filled);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *error = "cannot read [" + entry.absolutePath + "]: " + std::strerror(errno);
        return false;
      }
      if (n == 0) break;
      filled += static_cast<size_t>(n);
    }
    if (filled == 0) break;
    const bool atEnd = filled < section.data.size();
    section.data.resize(filled);
    offset += filled;
    sections->push_back(std::move(section));
    if (atEnd) break;
  }
  *size = offset;
  return true;
}

std::vector<SectionV> SegmentBuilder::fromMemory(const ObjectMetadata& metadata,
                                                 const std::string& sourceId,
                                                 const std::string& data) const {
  std::vector<SectionV> sections;
  sections.push_back(HeaderSection(metadata, sourceId));
  sections.push_back(MetadataSection(metadata));
  for (uint64_t offset = 0; offset < data.size(); offset += extentSize_) {
    SectionV section;
    section.type = ObjectStore::kSectionFileData;
    section.offset = offset;
    const uint64_t length = std::min<uint64_t>(extentSize_, data.size() - offset);
    section.data.assign(data.begin() + offset, data.begin() + offset + length);
    sections.push_back(std::move(section));
  }
  return sections;
}

}  // namespace objstore_host

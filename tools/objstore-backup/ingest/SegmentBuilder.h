// SegmentBuilder: turns one source entry into the sections of its disk-cache segment:
//   - a stream header (a CXFileHeader record) whose h_filename is "<GUID>,<source id>";
//   - a metadata section (ObjectMetadata::kSectionKind) with the path and attributes;
//   - for a file, data sections of at most `extentSize` bytes, each with its offset.
#ifndef OBJSTORE_HOST_SEGMENTBUILDER_H_
#define OBJSTORE_HOST_SEGMENTBUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ObjectMetadata.h"
#include "SectionV.h"
#include "SourceTree.h"

namespace objstore_host {

class SegmentBuilder {
 public:
  explicit SegmentBuilder(uint64_t extentSize);

  // Reads `entry` and fills `sections`. The metadata's size is what was read, even when the
  // file changed meanwhile. False, with the reason in `error`, when the entry cannot be read.
  bool build(const SourceEntry& entry, std::vector<ObjectStore::SectionV>* sections,
             std::string* error) const;

  // The sections of an object with the given metadata and data, for programs that make objects
  // in memory (benchmarks, tests).
  std::vector<ObjectStore::SectionV> fromMemory(const ObjectMetadata& metadata,
                                                const std::string& sourceId,
                                                const std::string& data) const;

  static ObjectStore::SectionV HeaderSection(const ObjectMetadata& metadata,
                                             const std::string& sourceId);
  static ObjectStore::SectionV MetadataSection(const ObjectMetadata& metadata);

 private:
  bool readData(const SourceEntry& entry, std::vector<ObjectStore::SectionV>* sections,
                uint64_t* size, std::string* error) const;

  uint64_t extentSize_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SEGMENTBUILDER_H_

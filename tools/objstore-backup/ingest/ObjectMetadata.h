// ObjectMetadata: what the metadata section of an object's segment says about it: its kind, its
// path in the ingested tree and the attributes needed to restore it.
//
// The section holds text: a first line naming the format, then one "name=value" line per field.
// Values escape backslash, line feed and carriage return as \\, \n and \r, so any path survives.
#ifndef OBJSTORE_HOST_OBJECTMETADATA_H_
#define OBJSTORE_HOST_OBJECTMETADATA_H_

#include <cstdint>
#include <string>

namespace objstore_host {

enum class ObjectKind { kFile, kSymlink, kDirectory };

const char* ObjectKindName(ObjectKind kind);

struct ObjectMetadata {
  // The metaDataType of the metadata section.
  static constexpr uint32_t kSectionKind = 1;

  ObjectKind kind = ObjectKind::kFile;
  std::string path;   // relative to the ingested tree, '/'-separated
  uint64_t size = 0;  // bytes of data (files)
  uint32_t mode = 0;  // permission bits
  int64_t mtimeSeconds = 0;
  uint32_t mtimeNanos = 0;
  std::string linkTarget;  // symbolic links
  // Orders copies of one path written by a writer that counts its changes (the service sets it
  // per key); 0 when the writer does not, and then the text carries no version line at all, so
  // metadata written before the field existed reads back unchanged.
  uint64_t version = 0;

  std::string serialize() const;
  // Fills the fields from serialized text. False, with the reason in `error`, for text that is
  // not metadata of this format or whose path is not a safe relative path.
  bool parse(const std::string& text, std::string* error);

  // True when `text` claims this format (its first line names it): text that does not is
  // another writer's metadata, which this program cannot read, rather than damaged metadata.
  static bool IsThisFormat(const std::string& text);

  // True for a non-empty relative path without "." or ".." components or empty components:
  // restoring it cannot leave the target directory.
  static bool IsSafeRelativePath(const std::string& path);
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_OBJECTMETADATA_H_

#include "ObjectWriter.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "ErrorText.h"
#include "MakeCXFileHeader.h"
#include "ObjectId.h"
#include "ObjectMetadata.h"
#include "SegmentBuilder.h"

namespace objstore_host {

namespace {

// The stream header names the version's segment; the source identifier is the key's, so that
// every version of a key goes on the same stream and is stored in the order it was sent.
ObjectStore::SectionV HeaderSection(const ObjectMetadata& metadata, const std::string& id) {
  OBJECTOPSAPI::CXFileHeader header = OBJECTOPSAPI::MakeCXFileHeader(id, SourceId(metadata.path));
  header.h_size = metadata.size;
  header.h_mtime = static_cast<uint64_t>(metadata.mtimeSeconds);
  header.h_mode = metadata.mode;
  ObjectStore::SectionV section;
  section.type = ObjectStore::kSectionStreamHeader;
  const char* bytes = reinterpret_cast<const char*>(&header);
  section.data.assign(bytes, bytes + sizeof(header));
  return section;
}

}  // namespace

ObjectWriter::ObjectWriter(ObjectStore::DirectoryDiskCache& cache, Catalog& catalog,
                           GroupSync& sync, JobRoller& roller, CommitWaiters& waiters,
                           ServeMetrics& metrics, uint64_t lastVersion)
    : cache_(cache),
      catalog_(catalog),
      sync_(sync),
      roller_(roller),
      waiters_(waiters),
      metrics_(metrics),
      lastVersion_(lastVersion) {}

std::string ObjectWriter::SegmentName(const std::string& key, uint64_t version) {
  return Sha1Hex("object:" + std::to_string(version) + ":" + key);
}

int ObjectWriter::put(const std::string& key, ObjectBody& body,
                      std::chrono::steady_clock::time_point start, bool waiter, CatalogRow* row,
                      std::string* error) {
  const std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
  const std::chrono::nanoseconds sinceEpoch = now.time_since_epoch();
  ObjectMetadata metadata;
  metadata.kind = ObjectKind::kFile;
  metadata.path = key;
  metadata.size = body.size();
  metadata.mode = 0644;
  metadata.mtimeSeconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
  metadata.mtimeNanos = static_cast<uint32_t>(sinceEpoch.count() % 1000000000);
  metadata.version = ++lastVersion_;
  const std::string id = SegmentName(key, metadata.version);

  std::vector<ObjectStore::SectionV> sections;
  sections.push_back(HeaderSection(metadata, id));
  sections.push_back(SegmentBuilder::MetadataSection(metadata));
  for (ObjectStore::SectionV& data : body.takeSections()) sections.push_back(std::move(data));
  CUxError written = cache_.writeSegment(id, sections, false);
  if (written.IsError()) {
    const uint32_t code = written.GetErrorCode();
    *error = "cannot write the object into the disk cache: " + ErrorText(written);
    return code == ENOSPC || code == EDQUOT ? 507 : 500;
  }
  row->key = key;
  row->version = metadata.version;
  row->id = id;
  row->size = metadata.size;
  row->state = ObjectState::kCached;
  row->putTime = std::chrono::duration<double>(sinceEpoch).count();
  // The row's transaction and the sync run at once: a row lost with the machine is restored
  // from the segment when the service starts (BackupService::reconcile).
  const uint64_t ticket = catalog_.insert(*row);
  const int synced = sync_.waitDurable();
  std::string why;
  const bool recorded = catalog_.wait(ticket, &why);
  if (!recorded || synced != 0) {
    *error =
        synced != 0 ? std::string("cannot sync the disk cache: ") + std::strerror(synced) : why;
    cache_.removeSegment(id);
    catalog_.markLost(id);
    return 500;
  }
  ++metrics_.objectsWaiting;
  metrics_.receivedBytes += metadata.size;
  if (waiter) waiters_.add(id);
  roller_.enqueue(id, start);
  return 201;
}

}  // namespace objstore_host

#include "BenchWorkload.h"

#include "DirectoryDiskCache.h"
#include "ErrorText.h"
#include "ObjectId.h"
#include "SegmentBuilder.h"

namespace objstore_bench {

bool MakeWorkload(const std::string& cacheDir, uint64_t objectSize, uint64_t count,
                  BenchWorkload* workload, std::string* error) {
  ObjectStore::DirectoryDiskCache cache(cacheDir);
  if (!cache.isOpen(error)) return false;
  const objstore_host::SegmentBuilder builder(1 << 20);
  std::string data(objectSize, '\0');
  *workload = BenchWorkload();
  workload->cacheDir = cacheDir;
  workload->objectSize = objectSize;
  for (uint64_t i = 0; i < count; ++i) {
    for (uint64_t j = 0; j < objectSize; j += 64) data[j] = static_cast<char>(i + j);
    objstore_host::ObjectMetadata metadata;
    metadata.path = "bench/obj-" + std::to_string(i);
    metadata.size = objectSize;
    metadata.mode = 0644;
    // Each object its own source, so that objects spread over the streams.
    const std::string sourceId = objstore_host::SourceId("/bench/source-" + std::to_string(i));
    const std::string guid = objstore_host::ObjectGuid(metadata.path);
    CUxError written = cache.writeSegment(guid, builder.fromMemory(metadata, sourceId, data));
    if (written.IsError()) {
      *error = objstore_host::ErrorText(written);
      return false;
    }
    workload->items.push_back(guid);
    workload->bytes += objectSize;
  }
  return true;
}

}  // namespace objstore_bench

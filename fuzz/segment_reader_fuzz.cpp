// The disk cache's segment reader, in memory and from a file: damage of any kind must come back
// as an error, never as a crash, an overread or wrong sections.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "FuzzSupport.h"
#include "SegmentFile.h"
#include "SegmentFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  objstore_fuzz::SilenceLog();
  std::vector<ObjectStore::SectionV> inMemory;
  std::string problem;
  const bool decoded =
      ObjectStore::DecodeSegment(reinterpret_cast<const char*>(data), size, &inMemory, &problem);

  static const std::string path = objstore_fuzz::ScratchDir() + "/segment.seg";
  objstore_fuzz::WriteWholeFile(path, data, size);
  std::vector<ObjectStore::SectionV> fromFile;
  const int error = ObjectStore::ReadSegmentFile(path, &fromFile, &problem);
  // Both readers must agree on every input.
  if (decoded != (error == 0) || inMemory.size() != fromFile.size()) std::abort();
  for (size_t i = 0; i < inMemory.size(); ++i) {
    if (inMemory[i].type != fromFile[i].type || inMemory[i].data != fromFile[i].data) std::abort();
  }
  return 0;
}

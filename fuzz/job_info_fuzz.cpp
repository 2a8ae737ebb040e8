// A job description loaded from a JOB_INFO file whose bytes come from the input.
#include <string>

#include "FuzzSupport.h"
#include "ObjectStoreJobInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  objstore_fuzz::SilenceLog();
  static const std::string dir = objstore_fuzz::ScratchDir();
  objstore_fuzz::WriteWholeFile(dir + "/JOB_INFO", data, size);
  ObjectStore::ObjStoreJobInfo info(dir);
  return info.getBasePath().size() > 1 << 20 ? 1 : 0;
}

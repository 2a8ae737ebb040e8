// The backup store's reader: a run directory whose MANIFEST, committed file and stream data file
// come from the input. The input is a 2-byte manifest length and a 1-byte committed-file length
// (little-endian), then the manifest, the committed file and, for the rest, the data file. Every
// damage must come back as a problem or an error, never as a crash or an overread.
#include <cstring>
#include <filesystem>
#include <string>

#include "BackupStoreReader.h"
#include "FuzzSupport.h"
#include "StoreFormat.h"
#include "StoreStreamReader.h"

namespace {

std::string Take(const uint8_t*& data, size_t& size, size_t wanted) {
  const size_t taken = wanted < size ? wanted : size;
  std::string part(reinterpret_cast<const char*>(data), taken);
  data += taken;
  size -= taken;
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  objstore_fuzz::SilenceLog();
  if (size < 3) return 0;
  const size_t manifestLength = data[0] | (data[1] << 8);
  const size_t committedLength = data[2];
  data += 3;
  size -= 3;
  static const std::string run = [] {
    const std::string dir = objstore_fuzz::ScratchDir() + "/7.run";
    std::filesystem::create_directories(dir);
    return dir;
  }();
  objstore_fuzz::WriteWholeFile(run + "/MANIFEST", Take(data, size, manifestLength));
  objstore_fuzz::WriteWholeFile(run + "/" + OBJECTOPSAPI::StoreCommittedFileName(1),
                                Take(data, size, committedLength));
  objstore_fuzz::WriteWholeFile(run + "/" + OBJECTOPSAPI::StoreDataFileName(1), data, size);

  OBJECTOPSAPI::StoreRun read;
  if (OBJECTOPSAPI::BackupStoreReader::ReadRun(run, &read).IsError()) return 0;
  for (const OBJECTOPSAPI::StoreStreamInfo& stream : read.streams) {
    for (bool readData : {true, false}) {
      OBJECTOPSAPI::StoreStreamReader reader;
      if (reader.open(stream).IsError()) continue;
      OBJECTOPSAPI::StoreItem item;
      bool more = true;
      while (more && !reader.next(&item, &more, readData).IsError()) {
      }
    }
  }
  return 0;
}

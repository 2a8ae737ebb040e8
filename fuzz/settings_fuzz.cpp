// The platform settings store reading a settings file whose bytes come from the input, then
// reading the values the library reads and writing one back.
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "KAPlatformInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  objstore_fuzz::SilenceLog();
  static const std::string path = [] {
    const std::string file = objstore_fuzz::ScratchDir() + "/settings";
    setenv("OBJSTORE_SETTINGS_FILE", file.c_str(), 1);
    return file;
  }();
  objstore_fuzz::WriteWholeFile(path, data, size);
  KAPlatformInfo settings;
  std::string text;
  unsigned int number = 0;
  unsigned long long wide = 0;
  settings.getDirectory("OBJECTSTORE", "sOBJECTSTORERootDir", &text);
  settings.getString("Pipeline", "sStoreDir", &text);
  settings.getNumber("Tarn", "nMaxUncommittedExtents", &number);
  settings.getLongLong("FileSystemAgent", "TotalBytes", &wide);
  settings.keyExists("Machines\\host");
  // A write re-reads the file and must keep what it can parse.
  settings.setNumber("Tarn", "nMaxUncommittedExtents", number + 1);
  return 0;
}

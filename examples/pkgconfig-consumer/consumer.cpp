// Prints the library's version and sets up its root directory under the existing directory
// given as the argument.
#include <cstdio>

#include "LogWriter.h"
#include "ObjStoreBackupInterface.h"
#include "ObjectStoreVersion.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s BASE_DIR\n", argv[0]);
    return 2;
  }
  g_ptrLogWriter.reset();  // no log records
  if (!ObjectStore::initBackupInterace(argv[1])) {
    std::fprintf(stderr, "cannot set up the root directory under %s\n", argv[1]);
    return 1;
  }
  std::printf("objstorebackup %s, root directory %s\n", ObjectStore::GetLibraryVersion(),
              ObjectStore::ObjectStoreStatic::rootDir.c_str());
  return 0;
}

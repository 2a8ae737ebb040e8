#include "ObjectStoreVersion.h"

namespace ObjectStore {

const char* GetLibraryVersion() {
  return OBJSTORE_VERSION;
}

}  // namespace ObjectStore

// The version of the object-store backup library.
#ifndef OBJSTORE_UTIL_OBJECTSTOREVERSION_H_
#define OBJSTORE_UTIL_OBJECTSTOREVERSION_H_

#include "ObjStoreExport.h"

namespace ObjectStore {

// The version of the library the process has loaded, as "major.minor.patch" (the package's
// version). A static string; any thread, at any time, also before initBackupInterace.
OBJSTORE_API const char* GetLibraryVersion();

}  // namespace ObjectStore

#endif  // OBJSTORE_UTIL_OBJECTSTOREVERSION_H_

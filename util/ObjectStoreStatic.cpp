// The library entry, the root directory and the small settings readers of ObjectStoreStatic.
#include "ObjectStoreStatic.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "ErrnoText.h"
#include "KAPI_Focus.h"
#include "KAPlatformInfo.h"
#include "LogWriter.h"

namespace ObjectStore {

std::string ObjectStoreStatic::rootDir = "/OBJECTSTORE";
std::string ObjectStoreStatic::clientName = "";

namespace {

const char kRootKey[] = "OBJECTSTORE";
const char kRootValue[] = "sOBJECTSTORERootDir";
const char kRootMarkerKey[] = "~OBJECTSTORE";
const char kJobResultsValue[] = "dJOBRESULTSDIR";
const char kFileSystemKey[] = "FileSystemAgent";

// The root under `base`: repeated '/' collapsed, one trailing '/' dropped, "/OBJECTSTORE" added.
std::string RootUnder(std::string base) {
  ObjectStoreStatic::RemoveDuplicates(base, '/');
  if (!base.empty() && base.back() == '/') base.pop_back();
  return base + "/OBJECTSTORE";
}

// `base` made absolute against the working directory now, so that the root does not move with
// a later chdir. False when the working directory cannot be found.
bool AbsoluteBase(std::string* base) {
  if (base->empty() || (*base)[0] == '/') return true;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof(cwd)) == nullptr) {
    OBJSTORE_LOG(-1, "ERROR: Root base [%s] is relative and the working directory is unknown: %s",
                 base->c_str(), ErrnoText(errno).c_str());
    return false;
  }
  *base = std::string(cwd) + "/" + *base;
  return true;
}

// Makes sure `root` is a directory, creating it (but not its parent) when missing. Each failure
// is one error record that says what is wrong with which path.
bool EnsureRootExists(const std::string& root) {
  struct stat st;
  if (stat(root.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    OBJSTORE_LOG(-1, "ERROR: Root dir [%s] is not a directory. Exiting service.", root.c_str());
    return false;
  }
  const int err = errno;
  const std::string base = ObjectStoreStatic::DirName(root);
  struct stat baseStatus;
  if (err == ENOTDIR || (stat(base.c_str(), &baseStatus) == 0 && !S_ISDIR(baseStatus.st_mode))) {
    OBJSTORE_LOG(-1, "ERROR: Root base [%s] is not a directory. Exiting service.", base.c_str());
    return false;
  }
  if (err == ENOENT) return ObjectStoreStatic::CreateDir(root, false);
  OBJSTORE_LOG(-1, "ERROR: Root dir [%s] cannot be accessed. Error [%s]. Exiting service.",
               root.c_str(), ErrnoText(err).c_str());
  return false;
}

// The base stored for the root, or, when there is none, the machine's job results directory
// ("/" without one), which is then stored for the next start.
std::string BaseFromSettings(KAPlatformInfo& settings) {
  std::string base;
  if (settings.getString(kRootKey, kRootValue, &base) != 0) return base;
  std::string machineKey = "Machines\\" + ObjectStoreStatic::clientName;
  if (settings.getDirectory(machineKey.c_str(), kJobResultsValue, &base) == 0) base = "/";
  OBJSTORE_LOG(1, "No root dir given. Defaulting to [%s/OBJECTSTORE]", base.c_str());
  settings.createRegKey(kRootMarkerKey);
  settings.setValue(kRootKey, kRootValue, base);
  return base;
}

}  // namespace

bool initBackupInterace(const std::string& baseDir) {
  if (baseDir.empty()) return ObjectStoreStatic::OBCacheRegistryForPath();
  // An explicit base is never stored, and a failure keeps the previous root.
  std::string base = baseDir;
  if (!AbsoluteBase(&base)) return false;
  std::string root = RootUnder(base);
  if (!EnsureRootExists(root)) return false;
  ObjectStoreStatic::rootDir = root;
  return true;
}

bool ObjectStoreStatic::OBCacheRegistryForPath() {
  clientName = KAPI_Focus::getFocusClientName(true);
  KAPlatformInfo settings;
  // The base is stored as found; only the root made from it is absolute.
  std::string base = BaseFromSettings(settings);
  if (!AbsoluteBase(&base)) return false;
  std::string root = RootUnder(base);
  // A failure keeps the previous root, as on the explicit branch.
  if (!EnsureRootExists(root)) return false;
  rootDir = root;
  return true;
}

void ObjectStoreStatic::GetFSSizeFromReg(KAUint64 totalBytes, KAUint64 freeBytes,
                                         KAUint64 availBytes) {
  // Sizes are stored in MiB; a missing one keeps the caller's value.
  KAPlatformInfo settings;
  settings.getLongLong(kFileSystemKey, "TotalBytes", &totalBytes);
  totalBytes <<= 20;
  OBJSTORE_LOG(3, "tbytes = [%llu]", totalBytes);
  settings.getLongLong(kFileSystemKey, "FreeBytes", &freeBytes);
  freeBytes <<= 20;
  OBJSTORE_LOG(3, "FreeBytes = [%llu]", freeBytes);
  settings.getLongLong(kFileSystemKey, "AvailBytes", &availBytes);
  availBytes <<= 20;
  OBJSTORE_LOG(3, "AvailBytes = [%llu]", availBytes);
}

void ObjectStoreStatic::GetDefaultFocus(std::string& out) {
  const char* focus = getenv("KORVAN_VM");
  if (focus != nullptr) out = focus;
}

}  // namespace ObjectStore

// ObjectStoreStatic: the object store's utilities (paths, directories and files, the root
// directory) and the library entry initBackupInterace.
//
// Every operation is static and keeps no state apart from `rootDir` and `clientName`, which the
// library entry writes once before other threads use the library. All are safe to call from
// any thread; failures are reported by the result and the log, never by an exception.
#ifndef OBJSTORE_UTIL_OBJECTSTORESTATIC_H_
#define OBJSTORE_UTIL_OBJECTSTORESTATIC_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <list>
#include <string>

#include "ObjStoreExport.h"

typedef unsigned long long KAUint64;

namespace ObjectStore {

class OBJSTORE_API ObjectStoreStatic {
 public:
  ObjectStoreStatic() = delete;

  // The root directory ("/OBJECTSTORE" until the library entry sets it) and the client name.
  static std::string rootDir;
  static std::string clientName;

  // Live: the library uses rootDir, clientName, DirName, RemoveDuplicates, CreateDir, CreateFile
  // and OBCacheRegistryForPath (through initBackupInterace). Every other helper below is kept for
  // hosts; the library does not call it (each is marked "Kept for hosts").

  // Paths. `out` may be the same object as `path`. Kept for hosts: BaseName, GetParent,
  // MoreChildrenThanThis, StripFront, StrToUpper, Tokenize, Trim.
  static void BaseName(const std::string& path, std::string& out);
  static void BaseName(const std::string& path, char* out);  // out: path.size() + 1 bytes
  static std::string BaseName(const std::string& path);
  static void DirName(const std::string& path, std::string& out);
  static void DirName(const std::string& path, char* out);  // out: path.size() + 1 bytes
  static std::string DirName(const std::string& path);
  static void GetParent(const std::string& path, std::string& out);
  static bool MoreChildrenThanThis(const std::string& dir, int n);
  static void RemoveDuplicates(std::string& s, char c);
  static std::string StripFront(const std::string& s, const std::string& prefix);
  static void StrToUpper(const std::string& in, std::string& out);
  static void Tokenize(const std::string& s, char delim, std::list<std::string>& out, bool flag);
  static std::string Trim(const std::string& s);

  // Directories and files. Kept for hosts: CreateDirReverse, CreateParentDir, GetErrName,
  // GetFileSize, RemoveDir, RemoveDirReverse, SetRegularFile.
  static bool CreateDir(const std::string& path, bool flag);
  static bool CreateDirReverse(const std::string& path);
  static bool CreateParentDir(const std::string& path);
  static bool CreateFile(const std::string& path, mode_t mode);
  static const char* GetErrName(int err, char* buf);  // buf: at least 12 bytes, or null
  static int GetFileSize(std::string& path);
  static bool RemoveDir(const std::string& path, bool flag);
  static bool RemoveDirReverse(const std::string& path, int levels);
  static void SetRegularFile(const char* path, struct stat* st);

  // Root directory and settings. Kept for hosts: GetFSSizeFromReg, GetDefaultFocus.
  static bool OBCacheRegistryForPath();
  static void GetFSSizeFromReg(KAUint64 totalBytes, KAUint64 freeBytes, KAUint64 availBytes);
  static void GetDefaultFocus(std::string& out);
};

// The library entry: call once, before any other call. `baseDir` empty takes the base from the
// settings store. True when the root directory exists afterwards.
OBJSTORE_API bool initBackupInterace(const std::string& baseDir);

}  // namespace ObjectStore

#endif  // OBJSTORE_UTIL_OBJECTSTORESTATIC_H_

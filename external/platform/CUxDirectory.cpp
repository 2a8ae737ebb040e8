#include "CUxDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

CUxError PathError(const CUxCodeLocation& where, int error, const char* what, const char* path) {
  return CUxMakeError(where, static_cast<uint32_t>(error), "cannot %s [%s]: %s", what, path,
                      strerror(error));
}

// Creates every missing ancestor of `path`; existing ones are fine.
CUxError CreateAncestors(std::string path) {
  // A trailing '/' must not make the final entry count as its own ancestor.
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string ancestor = path.substr(0, slash);
    if (ancestor.back() == '/') continue;  // repeated '/'
    if (mkdir(ancestor.c_str(), 0777) != 0 && errno != EEXIST) {
      return PathError(UX_CODE_LOCATION, errno, "create directory", ancestor.c_str());
    }
  }
  return CUxError();
}

// The first error met while removing a tree; removal goes on past it to remove what it can.
struct RemovalState {
  int error = 0;
  std::string failedPath;
  void Fail(int code, const std::string& path) {
    if (error != 0) return;
    error = code;
    failedPath = path;
  }
};

bool IsDirectoryEntry(int dirFd, const struct dirent* entry) {
  if (entry->d_type != DT_UNKNOWN) return entry->d_type == DT_DIR;
  struct stat info;
  return fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

// Empties the directory `name` below `parentFd`, then removes it. Entries are opened relative
// to their parent with O_NOFOLLOW, so a symbolic link is unlinked, never entered, even when
// something swaps a directory for a link during the walk.
void RemoveTree(int parentFd, const char* name, const std::string& path, RemovalState* state) {
  int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    state->Fail(errno, path);
    return;
  }
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    state->Fail(errno, path);
    close(fd);
    return;
  }
  while (struct dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    std::string childPath = path + "/" + entry->d_name;
    if (IsDirectoryEntry(fd, entry)) {
      RemoveTree(fd, entry->d_name, childPath, state);
    } else if (unlinkat(fd, entry->d_name, 0) != 0) {
      state->Fail(errno, childPath);
    }
  }
  closedir(dir);
  if (unlinkat(parentFd, name, AT_REMOVEDIR) != 0) state->Fail(errno, path);
}

}  // namespace

CUxError CUxDirectory::Create(const char* path, bool createParents) {
  if (path == nullptr) return UX_ERROR(EINVAL, "cannot create a directory without a path");
  if (createParents) {
    CUxError ancestors = CreateAncestors(path);
    if (ancestors.IsError()) return ancestors.Push(UX_CODE_LOCATION);
  }
  if (mkdir(path, 0777) != 0) return PathError(UX_CODE_LOCATION, errno, "create directory", path);
  return CUxError();
}

CUxError CUxDirectory::Remove(const char* path, bool recursive, bool missingOk) {
  if (path == nullptr) return UX_ERROR(EINVAL, "cannot remove a directory without a path");
  struct stat info;
  if (lstat(path, &info) != 0) {
    if (errno == ENOENT && missingOk) return CUxError();
    return PathError(UX_CODE_LOCATION, errno, "remove directory", path);
  }
  if (!S_ISDIR(info.st_mode)) return PathError(UX_CODE_LOCATION, ENOTDIR, "remove directory", path);
  if (!recursive) {
    if (rmdir(path) != 0) return PathError(UX_CODE_LOCATION, errno, "remove directory", path);
    return CUxError();
  }
  RemovalState state;
  RemoveTree(AT_FDCWD, path, path, &state);
  if (state.error == ENOENT && missingOk && state.failedPath == path) return CUxError();
  if (state.error != 0) {
    return PathError(UX_CODE_LOCATION, state.error, "remove", state.failedPath.c_str());
  }
  return CUxError();
}

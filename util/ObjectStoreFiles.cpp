// The directory and file operations of ObjectStoreStatic. Each reports success by its result and
// the detail through the log; none throws on a file-system failure.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "CUxDirectory.h"
#include "CUxFile.h"
#include "ErrnoText.h"
#include "LogWriter.h"
#include "ObjectStoreStatic.h"

namespace ObjectStore {

namespace {

bool LogMkdirFailure(const std::string& path, int err) {
  OBJSTORE_LOG(-1, "Error: mkdir()failed. [%s] [%s]", path.c_str(), ErrnoText(err).c_str());
  return false;
}

// Creates `path` with mode 0777; an existing entry counts as created. Logs other failures.
bool MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
  return LogMkdirFailure(path, errno);
}

// Steps up from `path` until mkdir of an ancestor succeeds or fails for a reason other than a
// missing parent, and returns that ancestor; "" when the climb reached "/" or the empty prefix,
// so that nothing outside the path's own ancestors is ever created.
std::string ClimbToExistingAncestor(const std::string& path) {
  std::string current = ObjectStoreStatic::DirName(path);
  while (!current.empty() && current != "/") {
    if (mkdir(current.c_str(), 0777) == 0 || errno != ENOENT) return current;
    ObjectStoreStatic::DirName(current, current);
  }
  return std::string();
}

const char* const kErrnoNames[] = {
    "EPERM",  "ENOENT",  "ESRCH",   "EINTR",        "EIO",    "ENXIO",  "E2BIG",     "ENOEXEC",
    "EBADF",  "ECHILD",  "EAGAIN",  "ENOMEM",       "EACCES", "EFAULT", "ENOTBLK",   "EBUSY",
    "EEXIST", "EXDEV",   "ENODEV",  "ENOTDIR",      "EISDIR", "EINVAL", "ENFILE",    "EMFILE",
    "ENOTTY", "ETXTBSY", "EFBIG",   "ENOSPC",       "ESPIPE", "EROFS",  "EMLINK",    "EPIPE",
    "EDOM",   "ERANGE",  "EDEADLK", "ENAMETOOLONG", "ENOLCK", "ENOSYS", "ENOTEMPTY", "ELOOP"};
constexpr int kNamedErrnoCount = sizeof(kErrnoNames) / sizeof(kErrnoNames[0]);
static_assert(kNamedErrnoCount == 40, "names for errno values 1 to 40");

}  // namespace

bool ObjectStoreStatic::CreateDir(const std::string& path, bool flag) {
  CUxError error = CUxDirectory::Create(path.c_str(), flag);
  if (error.IsError() && error.GetErrorCode() != EEXIST) {
    OBJSTORE_LOG(-1, "Error: Failed to create directory [%s] [%s].", path.c_str(),
                 error.AsString().c_str());
    return false;
  }
  OBJSTORE_LOG(2, "Created directory [%s].", path.c_str());
  return true;
}

bool ObjectStoreStatic::CreateDirReverse(const std::string& path) {
  if (path.empty()) {
    OBJSTORE_LOG(-1, "Error: Cannot create a directory with an empty path.");
    return false;
  }
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
  // Only a missing parent is worth a climb; any other failure leaves the path not there.
  if (errno != ENOENT) return LogMkdirFailure(path, errno);
  std::string ancestor = ClimbToExistingAncestor(path);
  if (ancestor.empty()) {
    OBJSTORE_LOG(-1, "Error: No ancestor of [%s] exists or can be created.", path.c_str());
    return false;
  }
  // Create each missing component below the ancestor, outermost first.
  for (size_t end = ancestor.size(); end < path.size();) {
    end = path.find('/', end + 1);
    if (end == std::string::npos) end = path.size();
    if (!MakeDirectory(path.substr(0, end))) return false;
  }
  return true;
}

bool ObjectStoreStatic::CreateParentDir(const std::string& path) {
  return CreateDirReverse(DirName(path));
}

bool ObjectStoreStatic::CreateFile(const std::string& path, mode_t mode) {
  CUxFile file;
  CUxError error = file.Open(path.c_str(), O_CREAT, static_cast<int>(mode));
  if (error.IsError() && error.GetErrorCode() != EEXIST) {
    OBJSTORE_LOG(-1, "Error: Failed to create file [%s] [%s].", path.c_str(),
                 error.AsString().c_str());
    errno = static_cast<int>(error.GetErrorCode());
    return false;
  }
  file.Close();
  OBJSTORE_LOG(2, "Created file [%s].", path.c_str());
  return true;
}

const char* ObjectStoreStatic::GetErrName(int err, char* buf) {
  if (err >= 1 && err <= kNamedErrnoCount) return kErrnoNames[err - 1];
  if (buf == nullptr) return "";
  // 12 bytes hold every int: "-2147483648" and its NUL.
  snprintf(buf, 12, "%d", err);
  return buf;
}

int ObjectStoreStatic::GetFileSize(std::string& path) {
  FILE* file = fopen64(path.c_str(), "rb");
  if (file == nullptr) return -1;
  off64_t size = -1;
  if (fseeko64(file, 0, SEEK_END) == 0) size = ftello64(file);
  fclose(file);
  if (size > INT_MAX) {
    OBJSTORE_LOG(-1, "ERROR: Size [%lld] of the file [%s] does not fit the result.",
                 static_cast<long long>(size), path.c_str());
    return -1;
  }
  return size < 0 ? -1 : static_cast<int>(size);
}

bool ObjectStoreStatic::RemoveDir(const std::string& path, bool flag) {
  CUxError error = CUxDirectory::Remove(path.c_str(), flag, false);
  if (error.IsError() && error.GetErrorCode() != ENOENT) {
    OBJSTORE_LOG(-1, "Error: Failed to remove directory [%s]. [%s].", path.c_str(),
                 error.AsString().c_str());
    return false;
  }
  OBJSTORE_LOG(4, "Removed directory [%s].", path.c_str());
  return true;
}

bool ObjectStoreStatic::RemoveDirReverse(const std::string& path, int levels) {
  RemoveDir(path, true);  // logs its own failure; the climb goes on regardless
  std::string current = path;
  // `levels` counts `path` itself; 0 or less climbs until an rmdir fails.
  for (int level = 1; levels <= 0 || level < levels; ++level) {
    DirName(current, current);
    if (rmdir(current.c_str()) == 0) continue;
    if (errno == ENOTEMPTY) return true;
    int err = errno;
    OBJSTORE_LOG(-1, "Error: Failed to remove directory [%s]. [%s].", current.c_str(),
                 ErrnoText(err).c_str());
    return false;
  }
  return true;
}

void ObjectStoreStatic::SetRegularFile(const char* /*path*/, struct stat* st) {
  if (st == nullptr) return;
  st->st_mode = (st->st_mode & ~S_IFMT) | S_IFREG;
  OBJSTORE_LOG(3, "Marked as regular file. st_mode [%x]", st->st_mode);
}

}  // namespace ObjectStore

#include "StoreIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "PipelineErrors.h"
#include "PipelineFaults.h"

namespace OBJECTOPSAPI {

namespace {

CUxError IoError(const CUxCodeLocation& where, const char* what, const std::string& path,
                 int error) {
  return CUxMakeError(where, kPipelineIoError, "%s [%s] failed: %s", what, path.c_str(),
                      std::strerror(error));
}

const char* FileKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

CUxError SyncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return IoError(UX_CODE_LOCATION, "open of directory", dir, errno);
  int result = ::fsync(fd);
  int error = errno;
  ::close(fd);
  if (result != 0) return IoError(UX_CODE_LOCATION, "fsync of directory", dir, error);
  return CUxError();
}

CUxError WriteVector(int fd, struct iovec* iov, int count, const std::string& path) {
  while (count > 0) {
    ssize_t written = ::writev(fd, iov, std::min(count, IOV_MAX));
    if (written < 0) {
      if (errno == EINTR) continue;
      return IoError(UX_CODE_LOCATION, "write to", path, errno);
    }
    size_t left = static_cast<size_t>(written);
    while (count > 0 && left >= iov->iov_len) {
      left -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + left;
      iov->iov_len -= left;
    }
  }
  return CUxError();
}

// Shortens the vector to its first `bytes` bytes, as a disk that fills up part way through a
// write takes only what fits; returns the new count.
int CutToBudget(struct iovec* iov, int count, uint64_t bytes) {
  int kept = 0;
  for (; kept < count && bytes > 0; ++kept) {
    if (iov[kept].iov_len > bytes) iov[kept].iov_len = bytes;
    bytes -= iov[kept].iov_len;
  }
  return kept;
}

}  // namespace

CUxError StoreIo::MakeDirs(const std::string& path) {
  if (path.empty()) return UX_ERROR(kPipelineInvalidArgument, "empty directory path");
  if (IsDirectory(path)) return CUxError();
  std::string parent = ParentOf(path);
  if (parent != path && parent != "." && parent != "/") {
    CUxError error = MakeDirs(parent);
    if (error.IsError()) return error;
  }
  if (::mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && IsDirectory(path))) {
    return IoError(UX_CODE_LOCATION, "mkdir", path, errno);
  }
  return CUxError();
}

CUxError StoreIo::WriteAll(int fd, struct iovec* iov, int count, const std::string& path) {
  uint64_t wanted = 0;
  for (int i = 0; i < count; ++i) wanted += iov[i].iov_len;
  const uint64_t granted = PipelineFaults::StoreWriteBudget().take(wanted);
  if (granted < wanted) count = CutToBudget(iov, count, granted);
  CUxError error = WriteVector(fd, iov, count, path);
  if (!error.IsError() && granted < wanted) {
    return IoError(UX_CODE_LOCATION, "write to", path, ENOSPC);
  }
  return error;
}

CUxError StoreIo::ReplaceFileDurably(const std::string& path, const std::string& content) {
  std::string temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return IoError(UX_CODE_LOCATION, "create", temporary, errno);
  struct iovec iov = {const_cast<char*>(content.data()), content.size()};
  CUxError error = WriteAll(fd, &iov, 1, temporary);
  if (!error.IsError() && ::fdatasync(fd) != 0) {
    error = IoError(UX_CODE_LOCATION, "fdatasync", temporary, errno);
  }
  if (::close(fd) != 0 && !error.IsError()) {
    error = IoError(UX_CODE_LOCATION, "close", temporary, errno);
  }
  if (!error.IsError() && ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = IoError(UX_CODE_LOCATION, "rename to", path, errno);
  }
  if (error.IsError()) {
    ::unlink(temporary.c_str());
    return error;
  }
  return SyncDirectory(ParentOf(path));
}

CUxError StoreIo::OpenRegularFile(const std::string& path, int* fd, uint64_t* size) {
  *fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (*fd < 0 && errno == ELOOP) {
    return CUxMakeError(UX_CODE_LOCATION, kPipelineBadStore,
                        "[%s] is a symbolic link; a store holds regular files only", path.c_str());
  }
  if (*fd < 0) return IoError(UX_CODE_LOCATION, "open", path, errno);
  struct stat info;
  if (::fstat(*fd, &info) != 0) {
    CUxError error = IoError(UX_CODE_LOCATION, "fstat", path, errno);
    ::close(*fd);
    *fd = -1;
    return error;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(*fd);
    *fd = -1;
    return CUxMakeError(UX_CODE_LOCATION, kPipelineBadStore,
                        "[%s] is %s; a store holds regular files only", path.c_str(),
                        FileKind(info.st_mode));
  }
  *size = static_cast<uint64_t>(info.st_size);
  return CUxError();
}

CUxError StoreIo::ReadWholeFile(const std::string& path, std::string* content, uint64_t maxBytes) {
  int fd = -1;
  uint64_t size = 0;
  CUxError error = OpenRegularFile(path, &fd, &size);
  if (error.IsError()) return error;
  content->clear();
  if (size > maxBytes) {
    ::close(fd);
    return CUxMakeError(UX_CODE_LOCATION, kPipelineBadStore,
                        "[%s] holds %llu bytes, more than the %llu such a file ever holds",
                        path.c_str(), static_cast<unsigned long long>(size),
                        static_cast<unsigned long long>(maxBytes));
  }
  // The file may grow while it is read: never take more than the bound.
  char buffer[8192];
  while (content->size() <= maxBytes) {
    ssize_t got = ::read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int code = errno;
      ::close(fd);
      return IoError(UX_CODE_LOCATION, "read", path, code);
    }
    if (got == 0) break;
    content->append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  if (content->size() > maxBytes) {
    return CUxMakeError(UX_CODE_LOCATION, kPipelineBadStore, "[%s] grew past %llu bytes",
                        path.c_str(), static_cast<unsigned long long>(maxBytes));
  }
  return CUxError();
}

CUxError StoreIo::ListDirectory(const std::string& path, std::vector<std::string>* names) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return IoError(UX_CODE_LOCATION, "opendir", path, errno);
  names->clear();
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  ::closedir(dir);
  std::sort(names->begin(), names->end());
  return CUxError();
}

bool StoreIo::IsDirectory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool StoreIo::IsDirectoryNoFollow(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace OBJECTOPSAPI

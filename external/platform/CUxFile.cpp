#include "CUxFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CUxFile::CUxFile() : fd_(-1) {}

CUxFile::~CUxFile() {
  Close();
}

CUxError CUxFile::Open(const char* path, int openFlags, int mode) {
  Close();
  if (path == nullptr) return UX_ERROR(EINVAL, "cannot open a file without a path");
  int fd = open(path, openFlags | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) {
    int error = errno;
    return UX_ERROR(error, "cannot open [%s]: %s", path, strerror(error));
  }
  fd_ = fd;
  return CUxError();
}

CUxError CUxFile::Close() {
  if (fd_ < 0) return CUxError();
  int fd = fd_;
  fd_ = -1;
  // The descriptor is released even when close() reports an error, so never retry it.
  if (close(fd) != 0) {
    int error = errno;
    return UX_ERROR(error, "cannot close descriptor [%d]: %s", fd, strerror(error));
  }
  return CUxError();
}

#include "SegmentFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ObjectStore {

namespace {

// Closes a descriptor on every path out of a function.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the result: a failed close can mean lost written data.
  int close() {
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

int ReadFully(int fd, char* buffer, size_t size, size_t* done) {
  *done = 0;
  while (*done < size) {
    ssize_t got = ::read(fd, buffer + *done, size - *done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;  // end of file
    *done += static_cast<size_t>(got);
  }
  return 0;
}

int WriteFully(int fd, const char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t put = ::write(fd, buffer + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    done += static_cast<size_t>(put);
  }
  return 0;
}

int WriteSyncClose(ScopedFd* fd, const std::vector<char>& content, bool sync) {
  if (::fchmod(fd->get(), 0644) != 0) return errno;
  int error = WriteFully(fd->get(), content.data(), content.size());
  if (error == 0 && sync && ::fsync(fd->get()) != 0) error = errno;
  int closeError = fd->close();
  return error != 0 ? error : closeError;
}

}  // namespace

int ReadWholeFile(const std::string& path, FileContent* content) {
  ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EISDIR;
  size_t size = static_cast<size_t>(info.st_size);
  content->bytes.reset(new char[size > 0 ? size : 1]);
  return ReadFully(fd.get(), content->bytes.get(), size, &content->size);
}

int WriteTemporaryFile(const std::string& dir, const std::string& prefix,
                       const std::vector<char>& content, bool sync, std::string* path) {
  std::string name = dir + "/" + prefix + "XXXXXX";
  ScopedFd fd(::mkostemp(&name[0], O_CLOEXEC));
  if (fd.get() < 0) return errno;
  int error = WriteSyncClose(&fd, content, sync);
  if (error != 0) {
    ::unlink(name.c_str());
    return error;
  }
  *path = name;
  return 0;
}

int SyncDirectory(const std::string& dir) {
  ScopedFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  return ::fsync(fd.get()) == 0 ? 0 : errno;
}

int CreateDirectories(const std::string& dir) {
  if (dir.empty()) return ENOENT;
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string prefix = dir.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) break;
  }
  struct stat info;
  if (::stat(dir.c_str(), &info) != 0) return errno;
  return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

}  // namespace ObjectStore

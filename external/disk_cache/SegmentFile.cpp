#include "SegmentFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "SegmentFormat.h"

namespace ObjectStore {

namespace {

// The first read takes this much: all of a small segment, and the table and the small sections
// of a large one.
constexpr size_t kHeadReadSize = 64 * 1024;
// Sections smaller than this are gathered into one write.
constexpr size_t kWriteGatherSize = 64 * 1024;

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

// Reads `size` bytes; sets `done` short of it only at the end of the file.
int ReadFully(int fd, char* buffer, size_t size, size_t* done) {
  *done = 0;
  while (*done < size) {
    ssize_t got = ::read(fd, buffer + *done, size - *done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
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

// Every byte comes from `budget`: past it, what fits is written and ENOSPC returned, as on a
// full disk.
int WriteFully(int fd, const char* buffer, size_t size, WriteBudget* budget) {
  const size_t granted = budget->take(size);
  const int error = WriteFully(fd, buffer, granted);
  return error != 0 || granted == size ? error : ENOSPC;
}

// Reads `size` bytes at the current position into `buffer`; a short file is damage.
int ReadExactly(int fd, char* buffer, size_t size, std::string* problem) {
  size_t done = 0;
  int error = ReadFully(fd, buffer, size, &done);
  if (error == 0 && done < size) {
    *problem = "truncated: the file ended while it was read";
    error = EBADMSG;
  }
  return error;
}

// Fills the sections' data: first from what the head read already holds past the table, then
// straight from the file.
int FillSections(int fd, const std::vector<char>& head, size_t tableEnd,
                 std::vector<SectionV>* sections, std::string* problem) {
  size_t headAt = tableEnd;
  for (SectionV& section : *sections) {
    size_t fromHead = std::min(section.data.size(), head.size() - headAt);
    if (fromHead > 0) std::memcpy(section.data.data(), head.data() + headAt, fromHead);
    headAt += fromHead;
    size_t rest = section.data.size() - fromHead;
    if (rest == 0) continue;
    int error = ReadExactly(fd, section.data.data() + fromHead, rest, problem);
    if (error != 0) return error;
  }
  return 0;
}

// Reads the head of the file and decodes the header and table from it, reading on when the
// table is longer than the head.
int ReadHeadAndTable(int fd, uint64_t fileSize, std::vector<char>* head, SegmentLayout* layout,
                     std::vector<SectionV>* sections, std::string* problem) {
  head->resize(std::min<uint64_t>(fileSize, kHeadReadSize));
  int error = ReadExactly(fd, head->data(), head->size(), problem);
  if (error != 0) return error;
  if (!DecodeSegmentHeader(head->data(), fileSize, layout, problem)) return EBADMSG;
  size_t headSize = head->size();
  if (headSize < layout->tableEnd()) {
    head->resize(layout->tableEnd());
    error = ReadExactly(fd, head->data() + headSize, head->size() - headSize, problem);
    if (error != 0) return error;
  }
  if (!DecodeSectionTable(head->data() + kSegmentHeaderSize, *layout, sections, problem))
    return EBADMSG;
  return 0;
}

int WriteSegment(int fd, const std::vector<SectionV>& sections, WriteBudget* budget,
                 uint64_t* size) {
  std::vector<char> pending = EncodeSegmentHead(sections);
  *size = pending.size();
  for (const SectionV& section : sections) {
    *size += section.data.size();
    if (section.data.size() < kWriteGatherSize) {
      pending.insert(pending.end(), section.data.begin(), section.data.end());
      continue;
    }
    int error = WriteFully(fd, pending.data(), pending.size(), budget);
    if (error == 0) error = WriteFully(fd, section.data.data(), section.data.size(), budget);
    if (error != 0) return error;
    pending.clear();
  }
  return WriteFully(fd, pending.data(), pending.size(), budget);
}

int WriteSyncClose(ScopedFd* fd, const std::vector<SectionV>& sections, bool sync,
                   WriteBudget* budget, uint64_t* size) {
  int error = ::fchmod(fd->get(), 0644) == 0 ? 0 : errno;
  if (error == 0) error = WriteSegment(fd->get(), sections, budget, size);
  if (error == 0 && sync && ::fsync(fd->get()) != 0) error = errno;
  int closeError = fd->close();
  return error != 0 ? error : closeError;
}

}  // namespace

int ReadSegmentFile(const std::string& path, std::vector<SectionV>* sections,
                    std::string* problem) {
  ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EISDIR;
  std::vector<char> head;
  SegmentLayout layout;
  std::vector<SectionV> decoded;
  int error = ReadHeadAndTable(fd.get(), static_cast<uint64_t>(info.st_size), &head, &layout,
                               &decoded, problem);
  if (error == 0) error = FillSections(fd.get(), head, layout.tableEnd(), &decoded, problem);
  if (error != 0) return error;
  if (!CheckSectionData(decoded, layout, problem)) return EBADMSG;
  sections->insert(sections->end(), std::make_move_iterator(decoded.begin()),
                   std::make_move_iterator(decoded.end()));
  return 0;
}

int WriteSegmentFile(const std::string& dir, const std::string& prefix,
                     const std::vector<SectionV>& sections, bool sync, WriteBudget* budget,
                     std::string* path, uint64_t* size) {
  std::string name = dir + "/" + prefix + "XXXXXX";
  ScopedFd fd(::mkostemp(&name[0], O_CLOEXEC));
  if (fd.get() < 0) return errno;
  int error = WriteSyncClose(&fd, sections, sync, budget, size);
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

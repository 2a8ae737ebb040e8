// Small file helpers of the backup store. Every failure comes back as a kPipelineIoError
// naming the path and the system's reason.
#ifndef OBJSTORE_PIPELINE_STOREIO_H_
#define OBJSTORE_PIPELINE_STOREIO_H_

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CUxError.h"

namespace OBJECTOPSAPI {

class StoreIo {
 public:
  // Creates `path` and its missing parents; an existing directory is fine.
  static CUxError MakeDirs(const std::string& path);
  // Writes all of `iov` to `fd`, retrying short writes and interruptions. Every byte comes from
  // the store's write budget (PipelineFaults::StoreWriteBudget): past it, what fits is written
  // and the call fails with ENOSPC's text, as on a full disk.
  static CUxError WriteAll(int fd, struct iovec* iov, int count, const std::string& path);
  // Replaces `path` with `content` so that a crash leaves the old or the new file, and the new
  // one is on disk when this returns: temporary file, fsync, rename, fsync of the directory.
  static CUxError ReplaceFileDurably(const std::string& path, const std::string& content);
  // Opens `path` for reading only when it is a regular file, without following a symbolic link
  // and without blocking (a FIFO or a device in a store never stalls a reader); `*size` is its
  // length. Errors: it cannot be opened (kPipelineIoError); it is a link, a FIFO, a device or a
  // directory (kPipelineBadStore, saying which).
  static CUxError OpenRegularFile(const std::string& path, int* fd, uint64_t* size);
  // Reads a regular file (OpenRegularFile) of at most `maxBytes` bytes; a larger one is a
  // kPipelineBadStore error, found before anything is read.
  static CUxError ReadWholeFile(const std::string& path, std::string* content, uint64_t maxBytes);
  // The names in a directory, without "." and "..", sorted.
  static CUxError ListDirectory(const std::string& path, std::vector<std::string>* names);
  static bool IsDirectory(const std::string& path);
  // The same, but a symbolic link is not followed (and so never a directory).
  static bool IsDirectoryNoFollow(const std::string& path);
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_STOREIO_H_

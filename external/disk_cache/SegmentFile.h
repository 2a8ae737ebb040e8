// SegmentFile: the few POSIX file operations the disk cache needs, each reporting an errno value.
#ifndef OBJSTORE_DISKCACHE_SEGMENTFILE_H_
#define OBJSTORE_DISKCACHE_SEGMENTFILE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ObjectStore {

// A whole file in memory. The buffer is not zero-filled first: segments can be MiB large.
struct FileContent {
  std::unique_ptr<char[]> bytes;
  size_t size = 0;
};

// Reads the whole file at `path` with one open, one fstat and, normally, one read. A file that
// ends before the size fstat gave is returned short. Returns 0 or an errno value.
int ReadWholeFile(const std::string& path, FileContent* content);

// Writes `content` into a new file in `dir` whose name starts with `prefix` (mode 0644), syncs
// it to disk when `sync`, and sets `path` to it. Nothing is left behind on failure. Returns 0 or
// an errno value.
int WriteTemporaryFile(const std::string& dir, const std::string& prefix,
                       const std::vector<char>& content, bool sync, std::string* path);

// Syncs directory `dir`, making renames and removals in it durable. Returns 0 or an errno value.
int SyncDirectory(const std::string& dir);

// Creates `dir` and its missing parents. Returns 0 or an errno value.
int CreateDirectories(const std::string& dir);

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_SEGMENTFILE_H_

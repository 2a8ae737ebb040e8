// SegmentFile: reading and writing segment files, and the few directory operations the disk
// cache needs. Each returns 0 or an errno value.
#ifndef OBJSTORE_DISKCACHE_SEGMENTFILE_H_
#define OBJSTORE_DISKCACHE_SEGMENTFILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "SectionV.h"
#include "WriteBudget.h"

namespace ObjectStore {

// Reads and checks the segment file at `path`: one open, one fstat, one read for the head of the
// file and one more read per section whose data the head did not hold. On success appends the
// sections to `sections`. A damaged file gives EBADMSG with `problem` saying what is wrong;
// `sections` is then untouched.
int ReadSegmentFile(const std::string& path, std::vector<SectionV>* sections, std::string* problem);

// Writes `sections` as a segment file into a new file in `dir` whose name starts with `prefix`
// (mode 0644), syncs it to disk when `sync`, and sets `path` and `size` to the file written.
// Every byte written comes from `budget`; past it the write fails with ENOSPC. Nothing is left
// behind on failure.
int WriteSegmentFile(const std::string& dir, const std::string& prefix,
                     const std::vector<SectionV>& sections, bool sync, WriteBudget* budget,
                     std::string* path, uint64_t* size);

// Syncs directory `dir`, making renames and removals in it durable.
int SyncDirectory(const std::string& dir);

// Creates `dir` and its missing parents.
int CreateDirectories(const std::string& dir);

}  // namespace ObjectStore

#endif  // OBJSTORE_DISKCACHE_SEGMENTFILE_H_

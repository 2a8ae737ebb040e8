// SourceTree: the objects of a directory tree as the host program backs them up: every regular
// file, every symbolic link and every empty directory. Other entries (sockets, devices, pipes)
// are reported as problems and left out.
//
// A link that stays inside the tree is kept as a link. A link that leads out of it (absolute,
// or climbing above the root with "..") is taken as what it points to: a file, or a directory
// walked like any other, in which every link is followed too. So a restored tree is complete
// on its own and `diff -r` finds it equal to the source (rsync calls this copying unsafe links).
// A link that points nowhere stays a link.
#ifndef OBJSTORE_HOST_SOURCETREE_H_
#define OBJSTORE_HOST_SOURCETREE_H_

#include <sys/stat.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ObjectMetadata.h"

namespace objstore_host {

struct SourceEntry {
  std::string relativePath;  // '/'-separated, no leading "./"
  std::string absolutePath;
  ObjectKind kind = ObjectKind::kFile;
  struct stat status;  // of the entry, or of what a followed link points to
};

class SourceTree {
 public:
  explicit SourceTree(const std::string& root);

  // Lists the tree's objects depth-first in name order. A directory that cannot be read, a
  // directory reached again through links and an unsupported entry each add a line to
  // `problems`, and the walk goes on. False (with the reason in `problems`) when the root is not
  // a readable directory.
  bool list(std::vector<SourceEntry>* entries, std::vector<std::string>* problems) const;

  // The metadata of `entry` as ingested; for a symbolic link `error` says when it is unreadable.
  static bool Describe(const SourceEntry& entry, ObjectMetadata* metadata, std::string* error);

  // True when the link at `linkPath` (relative to the root) with `target` resolves inside the
  // root without following other links.
  static bool StaysInside(const std::string& linkPath, const std::string& target);

 private:
  typedef std::set<std::pair<dev_t, ino_t> > DirectorySet;

  void walk(const std::string& relative, bool followLinks, DirectorySet* ancestors,
            std::vector<SourceEntry>* entries, std::vector<std::string>* problems) const;
  // Turns `entry` (a link) into what it stands for; false when it is to be left out.
  bool resolveLink(SourceEntry* entry, bool followLinks, bool* isDirectory) const;

  std::string root_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SOURCETREE_H_

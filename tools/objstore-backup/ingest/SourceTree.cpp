#include "SourceTree.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace objstore_host {

namespace {

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}

// The names in `dir`, sorted, without "." and "..".
bool ReadNames(const std::string& dir, std::vector<std::string>* names, std::string* error) {
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) {
    *error = "cannot read directory [" + dir + "]: " + std::strerror(errno);
    return false;
  }
  while (struct dirent* entry = readdir(handle)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  closedir(handle);
  std::sort(names->begin(), names->end());
  return true;
}

bool ReadLink(const std::string& path, const struct stat& status, std::string* target) {
  std::vector<char> buffer(static_cast<size_t>(status.st_size) + 1);
  ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0 || static_cast<size_t>(length) >= buffer.size()) return false;
  target->assign(buffer.data(), static_cast<size_t>(length));
  return true;
}

}  // namespace

SourceTree::SourceTree(const std::string& root) : root_(root) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

bool SourceTree::list(std::vector<SourceEntry>* entries, std::vector<std::string>* problems) const {
  struct stat status;
  if (stat(root_.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    problems->push_back("source [" + root_ + "] is not a readable directory");
    return false;
  }
  if (access(root_.c_str(), R_OK | X_OK) != 0) {
    problems->push_back("cannot read directory [" + root_ + "]: " + std::strerror(errno));
    return false;
  }
  DirectorySet ancestors = {{status.st_dev, status.st_ino}};
  walk("", false, &ancestors, entries, problems);
  return true;
}

void SourceTree::walk(const std::string& relative, bool followLinks, DirectorySet* ancestors,
                      std::vector<SourceEntry>* entries, std::vector<std::string>* problems) const {
  const std::string dir = relative.empty() ? root_ : root_ + "/" + relative;
  std::vector<std::string> names;
  std::string error;
  if (!ReadNames(dir, &names, &error)) {
    problems->push_back(error);
    return;
  }
  for (const std::string& name : names) {
    SourceEntry entry;
    entry.relativePath = Join(relative, name);
    entry.absolutePath = dir + "/" + name;
    if (lstat(entry.absolutePath.c_str(), &entry.status) != 0) {
      problems->push_back("cannot stat [" + entry.absolutePath + "]: " + std::strerror(errno));
      continue;
    }
    bool isDirectory = S_ISDIR(entry.status.st_mode);
    bool followed = followLinks;
    if (S_ISLNK(entry.status.st_mode)) {
      if (!resolveLink(&entry, followLinks, &isDirectory)) continue;
      followed = followed || isDirectory;
    } else if (!isDirectory && !S_ISREG(entry.status.st_mode)) {
      problems->push_back("skipped [" + entry.absolutePath + "]: not a file, link or directory");
      continue;
    }
    if (isDirectory) {
      const std::pair<dev_t, ino_t> id(entry.status.st_dev, entry.status.st_ino);
      if (!ancestors->insert(id).second) {
        problems->push_back("skipped [" + entry.absolutePath + "]: a link loops back to it");
        continue;
      }
      const size_t before = entries->size();
      walk(entry.relativePath, followed, ancestors, entries, problems);
      ancestors->erase(id);
      if (entries->size() > before) continue;
      entry.kind = ObjectKind::kDirectory;  // empty: kept as an object of its own
    }
    entries->push_back(entry);
  }
}

bool SourceTree::resolveLink(SourceEntry* entry, bool followLinks, bool* isDirectory) const {
  entry->kind = ObjectKind::kSymlink;
  *isDirectory = false;
  std::string target;
  if (!ReadLink(entry->absolutePath, entry->status, &target)) return true;  // Describe reports
  if (!followLinks && StaysInside(entry->relativePath, target)) return true;
  struct stat pointed;
  if (stat(entry->absolutePath.c_str(), &pointed) != 0) return true;  // dangling: kept as a link
  if (!S_ISDIR(pointed.st_mode) && !S_ISREG(pointed.st_mode)) return false;
  entry->status = pointed;
  entry->kind = ObjectKind::kFile;
  *isDirectory = S_ISDIR(pointed.st_mode);
  return true;
}

bool SourceTree::StaysInside(const std::string& linkPath, const std::string& target) {
  if (target.empty() || target[0] == '/') return false;
  long depth = static_cast<long>(std::count(linkPath.begin(), linkPath.end(), '/'));
  size_t start = 0;
  while (start <= target.size()) {
    size_t slash = target.find('/', start);
    if (slash == std::string::npos) slash = target.size();
    const std::string part = target.substr(start, slash - start);
    if (part == "..") {
      if (--depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = slash + 1;
  }
  return true;
}

bool SourceTree::Describe(const SourceEntry& entry, ObjectMetadata* metadata, std::string* error) {
  metadata->kind = entry.kind;
  metadata->path = entry.relativePath;
  metadata->size = entry.kind == ObjectKind::kFile ? entry.status.st_size : 0;
  metadata->mode = entry.status.st_mode & 07777;
  metadata->mtimeSeconds = entry.status.st_mtim.tv_sec;
  metadata->mtimeNanos = static_cast<uint32_t>(entry.status.st_mtim.tv_nsec);
  metadata->linkTarget.clear();
  if (entry.kind != ObjectKind::kSymlink) return true;
  if (!ReadLink(entry.absolutePath, entry.status, &metadata->linkTarget)) {
    *error = "cannot read link [" + entry.absolutePath + "]: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace objstore_host

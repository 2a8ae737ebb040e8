#include "PathRules.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace objstore_host {

namespace {

std::filesystem::path Resolved(const std::string& path) {
  std::error_code ignored;
  std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, ignored);
  return (resolved.empty() ? absolute : resolved).lexically_normal();
}

}  // namespace

bool IsSameOrInside(const std::string& path, const std::string& dir) {
  const std::filesystem::path inner = Resolved(path);
  const std::filesystem::path outer = Resolved(dir);
  auto a = inner.begin();
  for (auto b = outer.begin(); b != outer.end(); ++b, ++a) {
    if (b->empty()) continue;  // the empty last part of a path ending in '/'
    if (a == inner.end() || *a != *b) return false;
  }
  return true;
}

std::string LibraryRootFolder(const std::string& base) {
  return (std::filesystem::path(base) / "OBJECTSTORE").string();
}

bool MakeLastComponent(const std::string& dir, bool* created, std::string* error) {
  *created = false;
  struct stat info;
  if (::stat(dir.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    *error = "[" + dir + "] is not a directory";
    return false;
  }
  if (::mkdir(dir.c_str(), 0777) == 0) {
    *created = true;
    return true;
  }
  const int code = errno;
  const std::string parent = std::filesystem::path(dir).parent_path().string();
  *error = code == ENOENT ? "neither [" + dir + "] nor its parent [" + parent +
                                "] exists; only the last part of a path is created"
                          : "cannot create [" + dir + "]: " + std::strerror(code);
  return false;
}

}  // namespace objstore_host

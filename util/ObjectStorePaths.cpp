// The path and text operations of ObjectStoreStatic. They work on bytes; the only separator is
// '/'. Nothing here resolves ".", ".." or links.
#include <dirent.h>

#include <cctype>
#include <cstring>

#include "ObjectStoreStatic.h"

namespace ObjectStore {

namespace {

const char kBlanks[] = " \t\n\r";

}  // namespace

void ObjectStoreStatic::BaseName(const std::string& path, std::string& out) {
  size_t slash = path.rfind('/');
  std::string result = slash == std::string::npos ? path : path.substr(slash + 1);
  out = result;
}

void ObjectStoreStatic::BaseName(const std::string& path, char* out) {
  if (out == nullptr) return;
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    out[0] = '\0';
    return;
  }
  // Stops at an embedded NUL, as C text does.
  strcpy(out, path.c_str() + slash + 1);
}

std::string ObjectStoreStatic::BaseName(const std::string& path) {
  std::string out;
  BaseName(path, out);
  return out;
}

void ObjectStoreStatic::DirName(const std::string& path, std::string& out) {
  size_t slash = path.rfind('/');
  std::string result = slash == std::string::npos ? std::string() : path.substr(0, slash);
  out = result;
}

void ObjectStoreStatic::DirName(const std::string& path, char* out) {
  if (out == nullptr) return;
  size_t slash = path.rfind('/');
  size_t length = slash == std::string::npos ? 0 : slash;
  memcpy(out, path.data(), length);
  out[length] = '\0';
}

std::string ObjectStoreStatic::DirName(const std::string& path) {
  std::string out;
  DirName(path, out);
  return out;
}

void ObjectStoreStatic::GetParent(const std::string& path, std::string& out) {
  size_t slash = path.rfind('/');
  std::string result = slash == std::string::npos ? path : path.substr(0, slash);
  out = result;
}

bool ObjectStoreStatic::MoreChildrenThanThis(const std::string& dir, int n) {
  DIR* stream = opendir(dir.c_str());
  if (stream == nullptr) return false;
  // Every entry counts, "." and ".." included; a wide counter keeps n = INT_MIN well defined.
  long long remaining = n;
  bool more = false;
  while (!more && readdir64(stream) != nullptr) {
    --remaining;
    more = remaining < 0;
  }
  closedir(stream);
  return more;
}

void ObjectStoreStatic::RemoveDuplicates(std::string& s, char c) {
  std::string result;
  result.reserve(s.size());
  // Starting from NUL means that with c == NUL a leading run of NULs goes completely.
  char previous = '\0';
  for (char current : s) {
    if (!(current == c && previous == c)) result.push_back(current);
    previous = current;
  }
  s = result;
}

std::string ObjectStoreStatic::StripFront(const std::string& s, const std::string& prefix) {
  if (s.compare(0, prefix.size(), prefix) != 0) return s;
  std::string rest = s.substr(prefix.size());
  if (rest.empty() || rest == "/." || rest == "/..") return "/";
  return rest;
}

void ObjectStoreStatic::StrToUpper(const std::string& in, std::string& out) {
  std::string result;
  result.reserve(in.size());
  for (char c : in) result.push_back(static_cast<char>(toupper(static_cast<unsigned char>(c))));
  out = result;
}

void ObjectStoreStatic::Tokenize(const std::string& s, char delim, std::list<std::string>& out,
                                 bool flag) {
  size_t start = 0;
  while (start < s.size()) {
    size_t pos = s.find(delim, start);
    // Only the empty token before a leading delimiter is optional; `flag` keeps it.
    if (pos != 0 || flag) out.push_back(s.substr(start, pos - start));
    if (pos == std::string::npos) return;
    start = pos + 1;
  }
}

std::string ObjectStoreStatic::Trim(const std::string& s) {
  size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

}  // namespace ObjectStore

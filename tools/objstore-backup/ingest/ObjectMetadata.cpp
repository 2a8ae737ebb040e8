#include "ObjectMetadata.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace objstore_host {

namespace {

const char kFormatLine[] = "objstore-object 1";

std::string Escape(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& value, std::string* out) {
  out->clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      *out += value[i];
      continue;
    }
    if (++i == value.size()) return false;
    if (value[i] == '\\') {
      *out += '\\';
    } else if (value[i] == 'n') {
      *out += '\n';
    } else if (value[i] == 'r') {
      *out += '\r';
    } else {
      return false;
    }
  }
  return true;
}

bool ParseUnsigned(const std::string& text, uint64_t* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = value;
  return true;
}

bool ParseKind(const std::string& text, ObjectKind* kind) {
  for (ObjectKind k : {ObjectKind::kFile, ObjectKind::kSymlink, ObjectKind::kDirectory}) {
    if (text == ObjectKindName(k)) {
      *kind = k;
      return true;
    }
  }
  return false;
}

// "<seconds>.<nanoseconds>", nanoseconds with nine digits.
bool ParseTime(const std::string& text, int64_t* seconds, uint32_t* nanos) {
  size_t dot = text.find('.');
  if (dot == std::string::npos || text.size() - dot - 1 != 9) return false;
  const std::string secondsText = text.substr(0, dot);
  char* end = nullptr;
  errno = 0;
  long long whole = std::strtoll(secondsText.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || dot == 0) return false;
  uint64_t fraction = 0;
  if (!ParseUnsigned(text.substr(dot + 1), &fraction)) return false;
  *seconds = whole;
  *nanos = static_cast<uint32_t>(fraction);
  return true;
}

}  // namespace

const char* ObjectKindName(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kFile:
      return "file";
    case ObjectKind::kSymlink:
      return "symlink";
    case ObjectKind::kDirectory:
      return "directory";
  }
  return "unknown";
}

std::string ObjectMetadata::serialize() const {
  char time[48];
  std::snprintf(time, sizeof(time), "%lld.%09u", static_cast<long long>(mtimeSeconds), mtimeNanos);
  std::ostringstream out;
  out << kFormatLine << "\n"
      << "kind=" << ObjectKindName(kind) << "\n"
      << "path=" << Escape(path) << "\n"
      << "size=" << size << "\n"
      << "mode=" << mode << "\n"
      << "mtime=" << time << "\n"
      << "target=" << Escape(linkTarget) << "\n";
  if (version != 0) out << "version=" << version << "\n";
  return out.str();
}

bool ObjectMetadata::parse(const std::string& text, std::string* error) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kFormatLine) {
    *error = "not object metadata (unknown first line)";
    return false;
  }
  ObjectMetadata parsed;
  bool hasPath = false;
  while (std::getline(in, line)) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
      *error = "metadata line without '='";
      return false;
    }
    const std::string name = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    uint64_t number = 0;
    bool good = true;
    if (name == "kind") {
      good = ParseKind(value, &parsed.kind);
    } else if (name == "path") {
      good = Unescape(value, &parsed.path);
      hasPath = true;
    } else if (name == "size") {
      good = ParseUnsigned(value, &parsed.size);
    } else if (name == "mode") {
      good = ParseUnsigned(value, &number) && number <= 07777;
      parsed.mode = static_cast<uint32_t>(number);
    } else if (name == "mtime") {
      good = ParseTime(value, &parsed.mtimeSeconds, &parsed.mtimeNanos);
    } else if (name == "target") {
      good = Unescape(value, &parsed.linkTarget);
    } else if (name == "version") {
      good = ParseUnsigned(value, &parsed.version);
    }  // other names: fields of a later format, ignored
    if (!good) {
      *error = "bad metadata value for [" + name + "]";
      return false;
    }
  }
  if (!hasPath || !IsSafeRelativePath(parsed.path)) {
    *error = "metadata path [" + parsed.path + "] is missing or not a safe relative path";
    return false;
  }
  *this = parsed;
  return true;
}

bool ObjectMetadata::IsThisFormat(const std::string& text) {
  const size_t length = sizeof(kFormatLine) - 1;
  return text.compare(0, length, kFormatLine) == 0 &&
         (text.size() == length || text[length] == '\n');
}

bool ObjectMetadata::IsSafeRelativePath(const std::string& path) {
  if (path.empty() || path[0] == '/' || path.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

}  // namespace objstore_host

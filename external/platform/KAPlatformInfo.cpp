#include "KAPlatformInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "CUxDirectory.h"
#include "LogWriter.h"

// The file holds one value per line: type, key, value name and data, separated by tabs.
// Backslash, tab, newline and carriage return inside a field are written as \\, \t, \n and \r,
// so any key (for example "Machines\host") round-trips. Empty lines and lines starting with '#'
// are ignored.

namespace {

typedef KAPlatformInfo::ValueType ValueType;
typedef KAPlatformInfo::Values Values;

// Guards every read-modify-write of the settings file within this process.
std::mutex& StoreMutex() {
  static std::mutex mutex;
  return mutex;
}

const char* TypeName(ValueType type) {
  switch (type) {
    case ValueType::kText:
      return "text";
    case ValueType::kNumber:
      return "number";
    case ValueType::kDirectory:
      return "directory";
    case ValueType::kKey:
      break;
  }
  return "key";
}

bool ParseType(const std::string& name, ValueType* type) {
  static const ValueType kAll[] = {ValueType::kText, ValueType::kNumber, ValueType::kDirectory,
                                   ValueType::kKey};
  for (ValueType candidate : kAll) {
    if (name == TypeName(candidate)) {
      *type = candidate;
      return true;
    }
  }
  return false;
}

std::string Escape(const std::string& field) {
  std::string out;
  for (char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& field, std::string* out) {
  out->clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      *out += field[i];
      continue;
    }
    if (++i == field.size()) return false;
    switch (field[i]) {
      case '\\':
        *out += '\\';
        break;
      case 't':
        *out += '\t';
        break;
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

bool IsNumber(const std::string& text) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  errno = 0;
  strtoull(text.c_str(), nullptr, 10);
  return errno == 0;
}

// Parses one line; false when it is malformed.
bool ParseLine(const std::string& line, Values* values) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (fields.size() != 4) return false;
  KAPlatformInfo::Value value;
  std::string key, valueName;
  if (!ParseType(fields[0], &value.type) || !Unescape(fields[1], &key) ||
      !Unescape(fields[2], &valueName) || !Unescape(fields[3], &value.data) || key.empty()) {
    return false;
  }
  if (value.type == ValueType::kNumber && !IsNumber(value.data)) return false;
  if (value.type == ValueType::kKey && (!valueName.empty() || !value.data.empty())) return false;
  (*values)[std::make_pair(key, valueName)] = value;
  return true;
}

// Reads the file into `values`. A missing file is empty; false when it exists but cannot be read.
bool LoadFile(const std::string& path, Values* values) {
  values->clear();
  FILE* file = fopen(path.c_str(), "re");
  if (file == nullptr) {
    if (errno == ENOENT) return true;
    OBJSTORE_LOG(-1, "ERROR: cannot read settings file [%s]: %s", path.c_str(), strerror(errno));
    return false;
  }
  char* buffer = nullptr;
  size_t capacity = 0;
  ssize_t length;
  int lineNumber = 0;
  while ((length = getline(&buffer, &capacity, file)) >= 0) {
    ++lineNumber;
    std::string line(buffer, static_cast<size_t>(length));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!ParseLine(line, values)) {
      OBJSTORE_LOG(-1, "WARNING: settings file [%s] line [%d] is malformed; skipped", path.c_str(),
                   lineNumber);
    }
  }
  bool readFailed = ferror(file) != 0;
  free(buffer);
  fclose(file);
  if (readFailed) {
    OBJSTORE_LOG(-1, "ERROR: cannot read settings file [%s]", path.c_str());
    return false;
  }
  return true;
}

std::string Render(const Values& values) {
  std::string text = "# objstore settings: type, key, value name, data (tab-separated)\n";
  for (const auto& entry : values) {
    text += TypeName(entry.second.type);
    text += '\t' + Escape(entry.first.first) + '\t' + Escape(entry.first.second) + '\t' +
            Escape(entry.second.data) + '\n';
  }
  return text;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes `text` to a temporary file beside `path` and renames it over `path`: readers see the
// old file or the new one, never a torn one.
bool ReplaceFile(const std::string& path, const std::string& text) {
  std::string parent = ParentOf(path);
  CUxError made = CUxDirectory::Create(parent.c_str(), true);
  if (made.IsError() && made.GetErrorCode() != EEXIST) {
    OBJSTORE_LOG(-1, "ERROR: cannot create settings directory: %s", made.AsString().c_str());
    return false;
  }
  std::vector<char> temporary(path.begin(), path.end());
  const char kSuffix[] = ".tmp.XXXXXX";
  temporary.insert(temporary.end(), kSuffix, kSuffix + sizeof(kSuffix));
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    OBJSTORE_LOG(-1, "ERROR: cannot write settings file [%s]: %s", path.c_str(), strerror(errno));
    return false;
  }
  struct stat existing;
  mode_t mode = stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  bool written = WriteAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && rename(temporary.data(), path.c_str()) != 0) {
    written = false;
    error = errno;
  }
  if (!written) {
    unlink(temporary.data());
    OBJSTORE_LOG(-1, "ERROR: cannot write settings file [%s]: %s", path.c_str(), strerror(error));
    return false;
  }
  // Make the rename itself durable.
  int dirFd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

bool HasKey(const Values& values, const std::string& key) {
  auto it = values.lower_bound(std::make_pair(key, std::string()));
  return it != values.end() && it->first.first == key;
}

}  // namespace

KAPlatformInfo::KAPlatformInfo() {
  std::lock_guard<std::mutex> lock(StoreMutex());
  LoadFile(SettingsFilePath(), &values_);
}

KAPlatformInfo::~KAPlatformInfo() = default;

std::string KAPlatformInfo::SettingsFilePath() {
  const char* explicitPath = getenv("OBJSTORE_SETTINGS_FILE");
  if (explicitPath != nullptr && *explicitPath != '\0') return explicitPath;
  const char* home = getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.config/objstore/settings";
  return "/tmp/objstore-settings";
}

const KAPlatformInfo::Value* KAPlatformInfo::find(const char* key, const char* valueName,
                                                  ValueType type) const {
  if (key == nullptr || valueName == nullptr) return nullptr;
  auto it = values_.find(std::make_pair(std::string(key), std::string(valueName)));
  if (it == values_.end() || it->second.type != type) return nullptr;
  return &it->second;
}

int KAPlatformInfo::getString(const char* key, const char* valueName, std::string* out) {
  const Value* value = find(key, valueName, ValueType::kText);
  if (value == nullptr) return 0;
  if (out != nullptr) *out = value->data;
  return 1;
}

int KAPlatformInfo::getDirectory(const char* key, const char* valueName, std::string* out) {
  const Value* value = find(key, valueName, ValueType::kDirectory);
  if (value == nullptr) return 0;
  if (out != nullptr) *out = value->data;
  return 1;
}

int KAPlatformInfo::getNumber(const char* key, const char* valueName, unsigned long* out) {
  const Value* value = find(key, valueName, ValueType::kNumber);
  if (value == nullptr) return 0;
  if (out != nullptr) *out = strtoul(value->data.c_str(), nullptr, 10);
  return 1;
}

int KAPlatformInfo::getLongLong(const char* key, const char* valueName, unsigned long long* out) {
  const Value* value = find(key, valueName, ValueType::kNumber);
  if (value == nullptr) return 0;
  if (out != nullptr) *out = strtoull(value->data.c_str(), nullptr, 10);
  return 1;
}

int KAPlatformInfo::setValue(const std::string& key, const std::string& valueName,
                             const std::string& data) {
  return set(key, valueName, ValueType::kText, data);
}

int KAPlatformInfo::setDirectory(const std::string& key, const std::string& valueName,
                                 const std::string& dir) {
  return set(key, valueName, ValueType::kDirectory, dir);
}

int KAPlatformInfo::setNumber(const std::string& key, const std::string& valueName,
                              unsigned long long value) {
  return set(key, valueName, ValueType::kNumber, std::to_string(value));
}

int KAPlatformInfo::createRegKey(const char* key) {
  if (key == nullptr) return 0;
  return set(key, std::string(), ValueType::kKey, std::string());
}

int KAPlatformInfo::keyExists(const char* key) {
  return key != nullptr && HasKey(values_, key) ? 1 : 0;
}

int KAPlatformInfo::set(const std::string& key, const std::string& valueName, ValueType type,
                        const std::string& data) {
  if (key.empty()) {
    OBJSTORE_LOG(-1, "ERROR: a setting needs a key (value name [%s])", valueName.c_str());
    return 0;
  }
  std::string path = SettingsFilePath();
  std::lock_guard<std::mutex> lock(StoreMutex());
  // Start from the file as it is now, so values other objects wrote meanwhile are kept.
  Values current;
  if (!LoadFile(path, &current)) return 0;
  if (type == ValueType::kKey) {
    if (HasKey(current, key)) {
      values_.swap(current);
      return 1;
    }
  } else {
    // A real value makes the bare key marker redundant.
    auto marker = current.find(std::make_pair(key, std::string()));
    if (marker != current.end() && marker->second.type == ValueType::kKey) current.erase(marker);
  }
  current[std::make_pair(key, valueName)] = Value{type, data};
  if (!ReplaceFile(path, Render(current))) return 0;
  values_.swap(current);
  return 1;
}

int KAPlatformInfo::deleteValue(const std::string& key, const std::string& valueName) {
  std::string path = SettingsFilePath();
  std::lock_guard<std::mutex> lock(StoreMutex());
  Values current;
  if (!LoadFile(path, &current)) return 0;
  auto it = current.find(std::make_pair(key, valueName));
  if (it == current.end() || it->second.type == ValueType::kKey) {
    values_.swap(current);
    return 0;
  }
  current.erase(it);
  // Deleting a key's last value keeps the key, as a bare marker.
  if (!HasKey(current, key))
    current[std::make_pair(key, std::string())] = Value{ValueType::kKey, ""};
  if (!ReplaceFile(path, Render(current))) return 0;
  values_.swap(current);
  return 1;
}

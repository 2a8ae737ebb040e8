#include "RestoreTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "FileCompare.h"

namespace objstore_host {

namespace {

const std::string kTemporaryInfix = ".objstore-restore-";
const size_t kTemporaryRandomChars = 6;  // mkstemp's XXXXXX

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " [" + path + "]: " + std::strerror(errno);
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

struct timespec MtimeOf(const ObjectMetadata& metadata) {
  struct timespec time;
  time.tv_sec = static_cast<time_t>(metadata.mtimeSeconds);
  time.tv_nsec = static_cast<long>(metadata.mtimeNanos);
  return time;
}

// Writes the copy's data, mode and time into a new temporary file beside `target`.
bool WriteTemporary(const StoredCopy& copy, const std::string& target, std::string* temporary,
                    std::string* error) {
  *temporary = target + kTemporaryInfix + "XXXXXX";
  int fd = mkstemp(&(*temporary)[0]);
  if (fd < 0) {
    *error = SystemError("cannot create", *temporary);
    return false;
  }
  bool good = true;
  for (const OBJECTOPSAPI::StoreSection& section : copy.item->sections) {
    if (section.type == OBJECTOPSAPI::kStoreRecordData && !WriteAll(fd, section.bytes)) {
      good = false;
      break;
    }
  }
  const struct timespec times[2] = {MtimeOf(copy.metadata), MtimeOf(copy.metadata)};
  good =
      good && fchmod(fd, static_cast<mode_t>(copy.metadata.mode)) == 0 && futimens(fd, times) == 0;
  if (!good) *error = SystemError("cannot write", *temporary);
  if (close(fd) != 0 && good) {
    *error = SystemError("cannot write", *temporary);
    good = false;
  }
  if (!good) unlink(temporary->c_str());
  return good;
}

// Moves `temporary` over `target`, or removes it when that fails.
bool Install(const std::string& temporary, const std::string& target, std::string* error) {
  if (rename(temporary.c_str(), target.c_str()) == 0) return true;
  *error = SystemError("cannot rename to", target);
  unlink(temporary.c_str());
  return false;
}

}  // namespace

RestoreTarget::RestoreTarget(const std::string& dir, bool overwrite)
    : dir_(dir), overwrite_(overwrite) {}

bool RestoreTarget::create(std::string* error) const {
  std::error_code code;
  std::filesystem::create_directories(dir_, code);
  if (code) *error = "cannot create [" + dir_ + "]: " + code.message();
  return !code;
}

bool RestoreTarget::IsTemporaryName(const std::string& name) {
  const size_t at = name.rfind(kTemporaryInfix);
  return at != std::string::npos && at > 0 &&
         name.size() == at + kTemporaryInfix.size() + kTemporaryRandomChars;
}

std::vector<std::string> RestoreTarget::removeStaleTemporaries(
    std::vector<std::string>* problems) const {
  std::vector<std::string> removed;
  std::error_code code;
  std::filesystem::recursive_directory_iterator it(dir_, code), end;
  for (; !code && it != end; it.increment(code)) {
    if (!it->is_regular_file(code) || !IsTemporaryName(it->path().filename().string())) continue;
    if (unlink(it->path().c_str()) == 0) {
      removed.push_back(it->path().string());
    } else {
      problems->push_back(SystemError("cannot remove the stale temporary", it->path().string()));
    }
  }
  if (code) problems->push_back("cannot search [" + dir_ + "]: " + code.message());
  return removed;
}

RestoreTarget::Outcome RestoreTarget::place(const StoredCopy& copy, std::string* why) const {
  const std::string target = dir_ + "/" + copy.metadata.path;
  if (!makeParent(copy.metadata.path, why)) return kFailed;
  switch (copy.metadata.kind) {
    case ObjectKind::kFile:
      return placeFile(copy, target, why);
    case ObjectKind::kSymlink:
      return placeSymlink(copy, target, why);
    case ObjectKind::kDirectory:
      return placeDirectory(copy, target, why);
  }
  return kFailed;
}

// Creates the missing directories above `path`, refusing any existing component that is not a
// real directory, so that no stored path can lead out of the target through a link.
bool RestoreTarget::makeParent(const std::string& path, std::string* error) const {
  std::string current = dir_;
  size_t start = 0;
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', start)) {
    current += "/" + path.substr(start, slash - start);
    start = slash + 1;
    struct stat status;
    if (lstat(current.c_str(), &status) == 0) {
      if (S_ISDIR(status.st_mode)) continue;
      *error = "[" + current + "] is in the way: it is not a directory";
      return false;
    }
    if (mkdir(current.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = SystemError("cannot create directory", current);
      return false;
    }
  }
  return true;
}

bool RestoreTarget::mayReplace(const std::string& target, const std::string& difference,
                               Outcome* outcome, std::string* why) const {
  struct stat status;
  if (lstat(target.c_str(), &status) != 0) return true;
  if (S_ISDIR(status.st_mode)) {
    *why = "[" + target + "] is in the way: it is a directory";
    *outcome = kFailed;
    return false;
  }
  if (overwrite_) return true;
  *why = "[" + target + "] exists and differs (" + difference + "); --overwrite replaces it";
  *outcome = kSkipped;
  return false;
}

RestoreTarget::Outcome RestoreTarget::placeFile(const StoredCopy& copy, const std::string& target,
                                                std::string* why) const {
  struct stat status;
  std::string difference = "not a regular file";
  if (lstat(target.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
      FileMatchesCopy(target, copy, &difference)) {
    return kUpToDate;
  }
  Outcome outcome = kWritten;
  if (!mayReplace(target, difference, &outcome, why)) return outcome;
  std::string temporary;
  if (!WriteTemporary(copy, target, &temporary, why) || !Install(temporary, target, why)) {
    return kFailed;
  }
  return kWritten;
}

RestoreTarget::Outcome RestoreTarget::placeSymlink(const StoredCopy& copy,
                                                   const std::string& target,
                                                   std::string* why) const {
  std::vector<char> current(4096);
  const ssize_t length = readlink(target.c_str(), current.data(), current.size());
  if (length >= 0 && std::string(current.data(), length) == copy.metadata.linkTarget) {
    return kUpToDate;
  }
  Outcome outcome = kWritten;
  if (!mayReplace(target, "another link target or no link", &outcome, why)) return outcome;
  // A link made under a fresh temporary name and renamed over the target replaces it whole.
  std::string temporary = target + kTemporaryInfix + "XXXXXX";
  int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    *why = SystemError("cannot create", temporary);
    return kFailed;
  }
  close(fd);
  unlink(temporary.c_str());
  if (symlink(copy.metadata.linkTarget.c_str(), temporary.c_str()) != 0) {
    *why = SystemError("cannot create link", temporary);
    return kFailed;
  }
  const struct timespec times[2] = {MtimeOf(copy.metadata), MtimeOf(copy.metadata)};
  utimensat(AT_FDCWD, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW);  // cosmetic; may fail
  return Install(temporary, target, why) ? kWritten : kFailed;
}

RestoreTarget::Outcome RestoreTarget::placeDirectory(const StoredCopy& copy,
                                                     const std::string& target,
                                                     std::string* why) const {
  struct stat status;
  if (lstat(target.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
    *why = "[" + target + "] is in the way: it is not a directory";
    return kFailed;
  }
  if (mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) {
    *why = SystemError("cannot create directory", target);
    return kFailed;
  }
  if (chmod(target.c_str(), static_cast<mode_t>(copy.metadata.mode)) != 0) {
    *why = SystemError("cannot set the mode of", target);
    return kFailed;
  }
  return kWritten;
}

}  // namespace objstore_host

#include "Restorer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace objstore_host {

namespace {

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

}  // namespace

Restorer::Restorer(const RestoreOptions& options, ProgressCounters* progress)
    : options_(options), progress_(progress) {}

RestoreResult Restorer::run() {
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  result_ = RestoreResult();
  restored_.clear();
  std::error_code error;
  std::filesystem::create_directories(options_.targetDir, error);
  if (error) {
    result_.problems.push_back("cannot create [" + options_.targetDir + "]: " + error.message());
    return result_;
  }
  StoreWalker walker(options_.storeDir);
  if (walker.walk(
          options_.jobId, false, [this](const StoredCopy& copy) { restore(copy); },
          &result_.walk) &&
      result_.walk.runs == 0) {
    result_.problems.push_back("the store [" + options_.storeDir + "] holds no run of job " +
                               std::to_string(options_.jobId));
  }
  result_.objects = restored_.size();
  result_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result_;
}

void Restorer::restore(const StoredCopy& copy) {
  const std::string target = options_.targetDir + "/" + copy.metadata.path;
  std::string error;
  bool done = makeParent(copy.metadata.path, &error);
  if (done && copy.metadata.kind == ObjectKind::kFile) done = writeFile(copy, target, &error);
  if (done && copy.metadata.kind == ObjectKind::kSymlink) done = writeSymlink(copy, target, &error);
  if (done && copy.metadata.kind == ObjectKind::kDirectory) {
    done = makeDirectory(copy, target, &error);
  }
  if (!done) {
    result_.problems.push_back(copy.metadata.path + ": " + error);
    return;
  }
  if (!restored_.insert(copy.metadata.path).second) ++result_.superseded;
  result_.bytes += copy.metadata.size;
  if (progress_ != nullptr) {
    ++progress_->items;
    progress_->bytes += copy.metadata.size;
  }
}

// Creates the missing directories above `path`, refusing any existing component that is not a
// real directory, so that no stored path can lead out of the target through a link.
bool Restorer::makeParent(const std::string& path, std::string* error) const {
  std::string current = options_.targetDir;
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

// Writes a temporary file next to the target and renames it over the target, so that an
// earlier copy (or a read-only file) is replaced whole.
bool Restorer::writeFile(const StoredCopy& copy, const std::string& target,
                         std::string* error) const {
  std::string temporary = target + ".objstore-restore-XXXXXX";
  int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    *error = SystemError("cannot create", temporary);
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
  if (!good) *error = SystemError("cannot write", temporary);
  if (close(fd) != 0 && good) {
    *error = SystemError("cannot write", temporary);
    good = false;
  }
  if (good && rename(temporary.c_str(), target.c_str()) != 0) {
    *error = SystemError("cannot rename to", target);
    good = false;
  }
  if (!good) unlink(temporary.c_str());
  return good;
}

bool Restorer::writeSymlink(const StoredCopy& copy, const std::string& target,
                            std::string* error) const {
  struct stat status;
  if (lstat(target.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) unlink(target.c_str());
  if (symlink(copy.metadata.linkTarget.c_str(), target.c_str()) != 0) {
    *error = SystemError("cannot create link", target);
    return false;
  }
  const struct timespec times[2] = {MtimeOf(copy.metadata), MtimeOf(copy.metadata)};
  utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);  // cosmetic; may fail
  return true;
}

bool Restorer::makeDirectory(const StoredCopy& copy, const std::string& target,
                             std::string* error) const {
  struct stat status;
  if (lstat(target.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
    *error = "[" + target + "] is in the way: it is not a directory";
    return false;
  }
  if (mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = SystemError("cannot create directory", target);
    return false;
  }
  if (chmod(target.c_str(), static_cast<mode_t>(copy.metadata.mode)) != 0) {
    *error = SystemError("cannot set the mode of", target);
    return false;
  }
  return true;
}

}  // namespace objstore_host

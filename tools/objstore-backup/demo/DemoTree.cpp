#include "DemoTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "ScopedInterrupt.h"

namespace objstore_host {

namespace {

const uint64_t kSmallBand = 4 << 10;
const uint64_t kMediumBand = 256 << 10;
const int kDirectories = 32;
const uint64_t kOddObjects = 3;  // an empty directory, an empty file, a symbolic link

std::string ObjectPath(uint64_t index) {
  char path[64];
  // Every fifth object sits one level deeper, so restore has nested paths to create.
  std::snprintf(path, sizeof(path), "d%02d/%sobj-%06llu.bin",
                static_cast<int>(index % kDirectories), index % 5 == 0 ? "deeper/" : "",
                static_cast<unsigned long long>(index));
  return path;
}

}  // namespace

DemoTree::DemoTree(const DemoTreeOptions& options) : options_(options), random_(options.seed) {}

uint64_t DemoTree::logUniform(uint64_t low, uint64_t high) {
  if (low >= high) return low;
  std::uniform_real_distribution<double> exponent(std::log(static_cast<double>(low) + 1),
                                                  std::log(static_cast<double>(high) + 1));
  const uint64_t size = static_cast<uint64_t>(std::exp(exponent(random_))) - 1;
  return std::min(std::max(size, low), high);
}

uint64_t DemoTree::nextSize() {
  const uint64_t low = options_.minSize;
  const uint64_t high = std::max(options_.maxSize, low);
  const uint64_t band = std::uniform_int_distribution<uint64_t>(0, 99)(random_);
  uint64_t bandLow = std::max(low, kMediumBand);
  uint64_t bandHigh = high;
  if (band < 70) {
    bandLow = low;
    bandHigh = kSmallBand;
  } else if (band < 98) {
    bandLow = std::max(low, kSmallBand);
    bandHigh = kMediumBand;
  }
  bandHigh = std::min(bandHigh, high);
  return logUniform(std::min(bandLow, bandHigh), bandHigh);
}

bool DemoTree::write(const std::string& dir, DemoTreeStats* stats, std::string* error) {
  std::error_code code;
  std::filesystem::create_directories(dir, code);
  if (code) {
    *error = "cannot create [" + dir + "]: " + code.message();
    return false;
  }
  *stats = DemoTreeStats();
  // The odd objects count among the requested ones, so that the tree holds exactly that many;
  // a tree too small for them holds files only.
  const uint64_t files =
      options_.objects > kOddObjects ? options_.objects - kOddObjects : options_.objects;
  for (uint64_t i = 0; i < files; ++i) {
    if (IsInterrupted(options_.interrupt)) return true;
    const std::string path = dir + "/" + ObjectPath(i);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), code);
    if (code) {
      *error = "cannot create the directory of [" + path + "]: " + code.message();
      return false;
    }
    const uint64_t size = nextSize();
    if (!writeFile(path, size, error)) return false;
    ++stats->objects;
    stats->bytes += size;
  }
  return files == options_.objects || writeOddObjects(dir, stats, error);
}

bool DemoTree::writeOddObjects(const std::string& dir, DemoTreeStats* stats, std::string* error) {
  std::error_code code;
  std::filesystem::create_directories(dir + "/empty-directory", code);
  if (code) {
    *error = "cannot create [" + dir + "/empty-directory]: " + code.message();
    return false;
  }
  if (!writeFile(dir + "/empty-file", 0, error)) return false;
  if (symlink(ObjectPath(0).c_str(), (dir + "/link-to-first").c_str()) != 0) {
    *error = "cannot create a link under [" + dir + "]: " + std::strerror(errno);
    return false;
  }
  stats->objects += kOddObjects;
  return true;
}

bool DemoTree::writeFile(const std::string& path, uint64_t size, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot create [" + path + "]: " + std::strerror(errno);
    return false;
  }
  std::vector<uint64_t> words((size + 7) / 8);
  for (uint64_t& word : words) word = random_();
  const char* bytes = reinterpret_cast<const char*>(words.data());
  uint64_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  const bool good = close(fd) == 0 && done == size;
  if (!good) *error = "cannot write [" + path + "]: " + std::strerror(errno);
  return good;
}

}  // namespace objstore_host

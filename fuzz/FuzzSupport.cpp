#include "FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "LogWriter.h"

namespace objstore_fuzz {

namespace {

std::string MakeScratchDir() {
  std::string dir = std::filesystem::temp_directory_path().string() + "/objstore-fuzz-XXXXXX";
  if (mkdtemp(&dir[0]) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return dir;
}

void RemoveScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(ScratchDir(), ignored);
}

}  // namespace

const std::string& ScratchDir() {
  // Never destroyed: the exit handler that removes the directory runs after static destructors.
  static const std::string* dir = [] {
    std::string* made = new std::string(MakeScratchDir());
    std::atexit(RemoveScratchDir);
    return made;
  }();
  return *dir;
}

void WriteWholeFile(const std::string& path, const void* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || (size != 0 && ::write(fd, data, size) != static_cast<ssize_t>(size))) {
    std::perror(path.c_str());
    std::abort();
  }
  ::close(fd);
}

void SilenceLog() {
  g_ptrLogWriter.reset();
}

}  // namespace objstore_fuzz

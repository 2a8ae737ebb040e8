#include "HostTestTree.h"

#include <dirent.h>

#include <filesystem>

#include "TestSupport.h"

namespace objstore_host {

bool WriteTestTree(const std::string& dir, int files) {
  std::error_code error;
  std::filesystem::create_directories(dir + "/sub", error);
  if (error) return false;
  for (int i = 0; i < files; ++i) {
    const size_t size = static_cast<size_t>(i) * 997 % 41000;
    std::string content(size, '\0');
    for (size_t j = 0; j < size; ++j) content[j] = static_cast<char>('a' + (i + j) % 26);
    const std::string name = (i % 3 == 0 ? "/sub/file-" : "/file-") + std::to_string(i);
    if (!objstore_testing::WriteFile(dir + name, content)) return false;
  }
  return true;
}

int CountSegments(const std::string& cacheDir) {
  int count = 0;
  DIR* handle = opendir(cacheDir.c_str());
  if (handle == nullptr) return -1;
  while (struct dirent* entry = readdir(handle)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(handle);
  return count;
}

}  // namespace objstore_host

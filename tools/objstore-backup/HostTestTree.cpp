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
  std::error_code error;
  if (!std::filesystem::is_directory(cacheDir, error)) return -1;
  int count = 0;
  for (std::filesystem::recursive_directory_iterator it(cacheDir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string file = it->path().filename().string();
    if (file[0] != '.' && it->path().extension() == ".seg") ++count;
  }
  return count;
}

}  // namespace objstore_host

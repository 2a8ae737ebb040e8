#include "BenchProcess.h"

#include <stdlib.h>

#include <fstream>

namespace objstore_bench {

long ProcessStatusKib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == field + ":" && status >> value) return value;
    status.ignore(4096, '\n');
  }
  return 0;
}

std::string TemporaryParent(const std::string& fallback) {
  const char* tmp = getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : fallback;
}

std::string MakeBenchDir(const std::string& parent, const std::string& name) {
  std::string pattern = parent + "/" + name + "-XXXXXX";
  return mkdtemp(&pattern[0]) != nullptr ? pattern : std::string();
}

}  // namespace objstore_bench

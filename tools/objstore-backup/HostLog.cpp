#include "HostLog.h"

#include <cstdlib>

#include "LogWriter.h"

namespace objstore_host {

namespace {

// The platform's default writer takes its file and level from the environment.
void Route(const char* path, int level) {
  if (path == nullptr) {
    unsetenv("OBJSTORE_LOG_FILE");
  } else {
    setenv("OBJSTORE_LOG_FILE", path, 1);
  }
  setenv("OBJSTORE_LOG_LEVEL", std::to_string(level).c_str(), 1);
  g_ptrLogWriter = MakeDefaultLogWriter();
}

}  // namespace

void RouteLogToFile(const std::string& path, int level) {
  Route(path.c_str(), level);
}

void RouteLogToStderr(int level) {
  Route(nullptr, level);
}

bool LogRoutedByEnvironment() {
  const char* path = std::getenv("OBJSTORE_LOG_FILE");
  return path != nullptr && *path != '\0';
}

}  // namespace objstore_host

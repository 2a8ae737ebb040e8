#include "HostLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "LogWriter.h"

namespace objstore_host {

namespace {

thread_local LoggedErrors* tLoggedErrors = nullptr;

// Passes every record on, and hands error records to the thread's LoggedErrors, if any.
class ErrorTapWriter : public CLogWriterInterface {
 public:
  explicit ErrorTapWriter(CLogWriterInterfacePtr inner) : inner_(inner) {}
  int getLevel() override { return inner_->getLevel(); }
  void writeV(int level, const char* function, int line, int zero1, int zero2, const char* format,
              va_list args) override {
    if (level == -1 && tLoggedErrors != nullptr) {
      va_list copy;
      va_copy(copy, args);
      char text[1024];
      std::vsnprintf(text, sizeof(text), format, copy);
      va_end(copy);
      tLoggedErrors->add(text);
    }
    inner_->writeV(level, function, line, zero1, zero2, format, args);
  }

 private:
  CLogWriterInterfacePtr inner_;
};

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

std::string WithoutPrefix(const std::string& text) {
  for (const char* prefix : {"ERROR: ", "Error: ", "WARN: ", "WARNING: "}) {
    const size_t length = std::strlen(prefix);
    if (text.compare(0, length, prefix) == 0) return text.substr(length);
  }
  return text;
}

}  // namespace

bool RouteLogToFile(const std::string& path, int level, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot open the log file [" + path + "]: " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  Route(path.c_str(), level);
  return true;
}

void RouteLogToStderr(int level) {
  Route(nullptr, level);
}

bool LogRoutedByEnvironment() {
  const char* path = std::getenv("OBJSTORE_LOG_FILE");
  return path != nullptr && *path != '\0';
}

void RouteLogByEnvironment() {
  g_ptrLogWriter = MakeDefaultLogWriter();
}

ScopedErrorTap::ScopedErrorTap() : previous_(g_ptrLogWriter) {
  if (previous_) g_ptrLogWriter.reset(new ErrorTapWriter(previous_));
}

ScopedErrorTap::~ScopedErrorTap() {
  g_ptrLogWriter = previous_;
}

LoggedErrors::LoggedErrors() {
  tLoggedErrors = this;
}

LoggedErrors::~LoggedErrors() {
  tLoggedErrors = nullptr;
}

std::string LoggedErrors::first() const {
  return records_.empty() ? std::string() : WithoutPrefix(records_.front());
}

}  // namespace objstore_host

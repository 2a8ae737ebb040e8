#include "LogWriter.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

// Writes whole lines to one descriptor. Each record goes out in a single write() under a mutex,
// so records of different threads never interleave.
class DefaultLogWriter : public CLogWriterInterface {
 public:
  DefaultLogWriter(int level, int fd, bool ownsFd) : level_(level), fd_(fd), ownsFd_(ownsFd) {}
  ~DefaultLogWriter() override {
    if (ownsFd_) close(fd_);
  }

  int getLevel() override { return level_; }

  void writeV(int level, const char* function, int line, int, int, const char* format,
              va_list args) override {
    std::string text = Prefix(level, function, line) + Format(format, args);
    if (text.empty() || text.back() != '\n') text += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    WriteAll(text);
  }

 private:
  static std::string Prefix(int level, const char* function, int line) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
    char prefix[96];
    snprintf(prefix, sizeof(prefix), "%s.%03ld [%ld] [%d] ", stamp,
             static_cast<long>(now.tv_usec / 1000), static_cast<long>(syscall(SYS_gettid)), level);
    return std::string(prefix) + (function != nullptr ? function : "?") + " (" +
           std::to_string(line) + ") ";
  }

  static std::string Format(const char* format, va_list args) {
    if (format == nullptr) return std::string();
    va_list copy;
    va_copy(copy, args);
    int size = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size <= 0) return std::string();
    std::string text(static_cast<size_t>(size), '\0');
    vsnprintf(&text[0], text.size() + 1, format, args);
    return text;
  }

  void WriteAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // nowhere left to report a failing log
      done += static_cast<size_t>(n);
    }
  }

  const int level_;  // fixed at creation, so reading it needs no lock
  std::mutex mutex_;
  const int fd_;
  const bool ownsFd_;
};

int LevelFromEnvironment() {
  const char* text = getenv("OBJSTORE_LOG_LEVEL");
  if (text == nullptr || *text == '\0') return 1;
  char* end = nullptr;
  errno = 0;
  long level = strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || level < -1 || level > 100) {
    fprintf(stderr, "objstore: ignoring invalid OBJSTORE_LOG_LEVEL [%s]; using 1\n", text);
    return 1;
  }
  return static_cast<int>(level);
}

}  // namespace

void CLogWriterInterface::write(int level, const char* function, int line, int zero1, int zero2,
                                const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeV(level, function, line, zero1, zero2, format, args);
  va_end(args);
}

CLogWriterInterfacePtr MakeDefaultLogWriter() {
  int level = LevelFromEnvironment();
  const char* path = getenv("OBJSTORE_LOG_FILE");
  if (path != nullptr && *path != '\0') {
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) return CLogWriterInterfacePtr(new DefaultLogWriter(level, fd, true));
    fprintf(stderr, "objstore: cannot open log file [%s]: %s; logging to standard error\n", path,
            strerror(errno));
  }
  return CLogWriterInterfacePtr(new DefaultLogWriter(level, STDERR_FILENO, false));
}

CLogWriterInterfacePtr g_ptrLogWriter = MakeDefaultLogWriter();

// Helpers shared by the test suites: a fresh temporary directory, a log writer that captures
// records, an event sink that captures raised events, and scoped environment variables.
#ifndef OBJSTORE_TESTING_TESTSUPPORT_H_
#define OBJSTORE_TESTING_TESTSUPPORT_H_

#include <boost/shared_ptr.hpp>
#include <mutex>
#include <string>
#include <vector>

#include "EvEvent.h"
#include "LogWriter.h"

namespace objstore_testing {

// A new directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  // Under `parent` (empty: as above).
  explicit TempDir(const std::string& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string sub(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct LogRecord {
  int level;
  std::string function;
  int line;
  std::string text;
};

// Captures every record at or below `level`; thread-safe.
class CapturingLogWriter : public CLogWriterInterface {
 public:
  explicit CapturingLogWriter(int level = 5) : level_(level) {}
  int getLevel() override { return level_; }
  void writeV(int level, const char* function, int line, int zero1, int zero2, const char* format,
              va_list args) override;

  std::vector<LogRecord> records() const;
  // Records whose text equals `text` exactly (and whose level is `level`, unless kAnyLevel).
  static constexpr int kAnyLevel = -100;
  size_t count(const std::string& text, int level = kAnyLevel) const;
  // Records whose text contains `fragment`.
  size_t countContaining(const std::string& fragment, int level = kAnyLevel) const;
  void clear();

 private:
  int level_;
  mutable std::mutex mutex_;
  std::vector<LogRecord> records_;
};

// Installs a CapturingLogWriter as g_ptrLogWriter for its lifetime, then restores the old one.
class ScopedLogCapture {
 public:
  explicit ScopedLogCapture(int level = 5);
  ~ScopedLogCapture();
  CapturingLogWriter& log() { return *writer_; }

 private:
  CLogWriterInterfacePtr previous_;
  boost::shared_ptr<CapturingLogWriter> writer_;
};

// Captures raised events for its lifetime.
class ScopedEventCapture : public EvEventSink {
 public:
  ScopedEventCapture();
  ~ScopedEventCapture() override;
  void raise(const EvRaisedEvent& event) override;
  std::vector<EvRaisedEvent> events() const;

 private:
  struct Sink;
  boost::shared_ptr<Sink> sink_;
  boost::shared_ptr<EvEventSink> previous_;
};

// Sets (or, with `unset`, removes) an environment variable; restores it on destruction.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::string& value, bool unset = false);
  ~ScopedEnv();

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

// Writes `content` to `path` (replacing it); returns false on failure.
bool WriteFile(const std::string& path, const std::string& content);
// The file's content, or "" when it cannot be read.
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);
// A directory in memory where syncs cost nothing (/dev/shm), or "" when there is none: for tests
// that start many jobs and do not test durability.
std::string MemoryBackedDir();

}  // namespace objstore_testing

#endif  // OBJSTORE_TESTING_TESTSUPPORT_H_

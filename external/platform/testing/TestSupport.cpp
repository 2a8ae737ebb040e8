#include "TestSupport.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "CUxDirectory.h"

namespace objstore_testing {

TempDir::TempDir() : TempDir(std::string()) {}

TempDir::TempDir(const std::string& parent) {
  const char* base = getenv("TMPDIR");
  const std::string under =
      !parent.empty() ? parent : (base != nullptr && *base != '\0' ? base : "/tmp");
  std::string pattern = under + "/objstore-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed for " << pattern;
    return;
  }
  path_ = buffer.data();
}

TempDir::~TempDir() {
  if (!path_.empty()) {
    // Tests may leave read-only directories behind; make them writable before removing.
    std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null";
    if (system(cmd.c_str()) != 0) {
      // Removal below still reports what it cannot do.
    }
    CUxDirectory::Remove(path_.c_str(), true, true);
  }
}

void CapturingLogWriter::writeV(int level, const char* function, int line, int, int,
                                const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int size = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) vsnprintf(&text[0], text.size() + 1, format, args);
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(LogRecord{level, function, line, text});
}

std::vector<LogRecord> CapturingLogWriter::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

size_t CapturingLogWriter::count(const std::string& text, int level) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const LogRecord& r : records_) {
    if (r.text == text && (level == kAnyLevel || r.level == level)) ++n;
  }
  return n;
}

size_t CapturingLogWriter::countContaining(const std::string& fragment, int level) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const LogRecord& r : records_) {
    if (r.text.find(fragment) != std::string::npos && (level == kAnyLevel || r.level == level)) ++n;
  }
  return n;
}

void CapturingLogWriter::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}

ScopedLogCapture::ScopedLogCapture(int level)
    : previous_(g_ptrLogWriter), writer_(new CapturingLogWriter(level)) {
  g_ptrLogWriter = writer_;
}

ScopedLogCapture::~ScopedLogCapture() {
  g_ptrLogWriter = previous_;
}

struct ScopedEventCapture::Sink : public EvEventSink {
  void raise(const EvRaisedEvent& event) override {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(event);
  }
  mutable std::mutex mutex;
  std::vector<EvRaisedEvent> events;
};

ScopedEventCapture::ScopedEventCapture() : sink_(new Sink) {
  previous_ = EvEvent::SetSink(sink_);
}

ScopedEventCapture::~ScopedEventCapture() {
  EvEvent::SetSink(previous_);
}

void ScopedEventCapture::raise(const EvRaisedEvent& event) {
  sink_->raise(event);
}

std::vector<EvRaisedEvent> ScopedEventCapture::events() const {
  std::lock_guard<std::mutex> lock(sink_->mutex);
  return sink_->events;
}

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value, bool unset)
    : name_(name), had_(false) {
  const char* old = getenv(name.c_str());
  if (old != nullptr) {
    had_ = true;
    old_ = old;
  }
  if (unset) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value.c_str(), 1);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string MemoryBackedDir() {
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::string();
}

bool PathExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

}  // namespace objstore_testing

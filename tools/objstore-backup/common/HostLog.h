// Where the log of the library and the stand-ins goes (g_ptrLogWriter). Call the Route
// functions before other threads start: they replace the process-wide writer.
#ifndef OBJSTORE_HOST_HOSTLOG_H_
#define OBJSTORE_HOST_HOSTLOG_H_

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

class CLogWriterInterface;

namespace objstore_host {

constexpr int kDefaultLogLevel = 1;

// Appends the log to `path` at `level`. False, with the reason in `error`, when the file cannot
// be opened; the log then stays where it was.
bool RouteLogToFile(const std::string& path, int level, std::string* error);
// Sends the log to standard error at `level`.
void RouteLogToStderr(int level);
// True when the user routed the log through OBJSTORE_LOG_FILE, which then wins.
bool LogRoutedByEnvironment();
// Sends the log where OBJSTORE_LOG_FILE and OBJSTORE_LOG_LEVEL say.
void RouteLogByEnvironment();

// Makes the error records of every thread reach their LoggedErrors while it lives, by wrapping
// the process-wide writer. Like the Route functions, make it before other threads start, and
// destroy it after they stopped.
class ScopedErrorTap {
 public:
  ScopedErrorTap();
  ~ScopedErrorTap();
  ScopedErrorTap(const ScopedErrorTap&) = delete;
  ScopedErrorTap& operator=(const ScopedErrorTap&) = delete;

 private:
  boost::shared_ptr<CLogWriterInterface> previous_;
};

// Collects the error records (level -1) that the calling thread logs while it lives, so that a
// failure the library reports only by a code can be explained by what it logged. Only records
// written while a ScopedErrorTap lives are seen. One per thread at a time.
class LoggedErrors {
 public:
  LoggedErrors();
  ~LoggedErrors();
  LoggedErrors(const LoggedErrors&) = delete;
  LoggedErrors& operator=(const LoggedErrors&) = delete;

  // The first record's text without its "ERROR: " prefix, or "" when none was logged: the
  // first is the cause, the later ones report its consequences.
  std::string first() const;
  void add(const std::string& text) { records_.push_back(text); }

 private:
  std::vector<std::string> records_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_HOSTLOG_H_

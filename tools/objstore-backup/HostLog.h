// Where the log of the library and the stand-ins goes (g_ptrLogWriter). Call these before other
// threads start: they replace the process-wide writer.
#ifndef OBJSTORE_HOST_HOSTLOG_H_
#define OBJSTORE_HOST_HOSTLOG_H_

#include <string>

namespace objstore_host {

constexpr int kDefaultLogLevel = 1;

// Appends the log to `path` at `level`. When the file cannot be opened the log goes to standard
// error, with a note there.
void RouteLogToFile(const std::string& path, int level);
// Sends the log to standard error at `level`.
void RouteLogToStderr(int level);
// True when the user routed the log through OBJSTORE_LOG_FILE, which then wins.
bool LogRoutedByEnvironment();

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_HOSTLOG_H_

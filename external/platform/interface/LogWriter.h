// The process-wide log writer and the logging macro every component uses.
//
// A record has a level; it is written only when the writer's current level is at least the
// record's level. Levels: -1 errors, 1 operator information, 2 per-item detail, 3 more detail,
// 4 removals and restart notes, 5 tracing.
#ifndef OBJSTORE_PLATFORM_LOGWRITER_H_
#define OBJSTORE_PLATFORM_LOGWRITER_H_

#include <boost/shared_ptr.hpp>
#include <cstdarg>
#include <string>

class CLogWriterInterface {
 public:
  virtual ~CLogWriterInterface() = default;

  // The current level. Must be cheap and thread-safe: it is asked before every record.
  virtual int getLevel() = 0;

  // Writes one record. `function` is the caller's full signature, `line` its source line; the
  // two zero values are kept for compatibility. Must be thread-safe.
  virtual void writeV(int level, const char* function, int line, int zero1, int zero2,
                      const char* format, va_list args) = 0;

  void write(int level, const char* function, int line, int zero1, int zero2, const char* format,
             ...) __attribute__((format(printf, 7, 8)));
};

typedef boost::shared_ptr<CLogWriterInterface> CLogWriterInterfacePtr;

// The process-wide writer. It starts as the default writer below, which writes records up to
// level 1 (errors and operator information, "INFO: ...") to standard error. Replace it before
// other threads log: with a writer of your own to send the records into your log, or with null to
// write nothing.
extern CLogWriterInterfacePtr g_ptrLogWriter;

// The default writer: one line per record (time, thread, level, function, line, text) to the
// file named by OBJSTORE_LOG_FILE (appended) or to standard error, at the level given by
// OBJSTORE_LOG_LEVEL (default 1).
CLogWriterInterfacePtr MakeDefaultLogWriter();

// Formats only when the record will be written.
#define OBJSTORE_LOG(level, ...)                                                              \
  do {                                                                                        \
    CLogWriterInterface* objstore_log_writer_ = g_ptrLogWriter.get();                         \
    if (objstore_log_writer_ != nullptr && objstore_log_writer_->getLevel() >= (level))       \
      objstore_log_writer_->write((level), __PRETTY_FUNCTION__, __LINE__, 0, 0, __VA_ARGS__); \
  } while (0)

#endif  // OBJSTORE_PLATFORM_LOGWRITER_H_

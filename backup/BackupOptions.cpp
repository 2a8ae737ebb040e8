#include "BackupOptions.h"

#include <cerrno>
#include <cinttypes>
#include <ctime>
#include <mutex>

namespace ObjectStore {

namespace {

std::mutex& OptionsLock() {
  static std::mutex lock;
  return lock;
}

BackupOptions& CurrentOptions() {
  static BackupOptions options;
  return options;
}

const long kDayMs = 24L * 3600 * 1000;

// Error EINVAL naming `field` when `value` is outside [low, high].
CUxError CheckRange(const char* field, int64_t value, int64_t low, int64_t high) {
  if (value >= low && value <= high) return CUxError();
  return UX_ERROR(EINVAL,
                  "BackupOptions.%s is %" PRId64 "; it must be from %" PRId64 " to %" PRId64, field,
                  value, low, high);
}

CUxError Validate(const BackupOptions& options) {
  const CUxError checks[] = {
      CheckRange("commitWaitMs", options.commitWaitMs, 0, kDayMs),
      CheckRange("restartWaitMs", options.restartWaitMs, 1, 3600 * 1000),
      CheckRange("forcedCommitIntervalSeconds", options.forcedCommitIntervalSeconds, 1, 86400),
      CheckRange("cleanupPollMs", options.cleanupPollMs, 1, 3600 * 1000),
      CheckRange("maxSectionBytes", static_cast<int64_t>(options.maxSectionBytes), 1, UINT32_MAX),
  };
  for (const CUxError& check : checks) {
    if (check.IsError()) return check;
  }
  return CUxError();
}

}  // namespace

CUxError SetBackupOptions(const BackupOptions& options) {
  CUxError error = Validate(options);
  if (error.IsError()) return error;
  std::lock_guard<std::mutex> lock(OptionsLock());
  CurrentOptions() = options;
  return CUxError();
}

BackupOptions GetBackupOptions() {
  std::lock_guard<std::mutex> lock(OptionsLock());
  return CurrentOptions();
}

int64_t BackupNow(const BackupOptions& options) {
  return options.clock ? options.clock() : static_cast<int64_t>(std::time(nullptr));
}

}  // namespace ObjectStore

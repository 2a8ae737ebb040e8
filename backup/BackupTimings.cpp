#include "BackupTimings.h"

#include <ctime>

namespace ObjectStore {

BackupTimings& GetBackupTimings() {
  static BackupTimings timings;
  return timings;
}

int64_t BackupNow() {
  const std::function<int64_t()>& clock = GetBackupTimings().clock;
  return clock ? clock() : static_cast<int64_t>(std::time(nullptr));
}

}  // namespace ObjectStore

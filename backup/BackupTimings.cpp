#include "BackupTimings.h"

namespace ObjectStore {

BackupTimings& GetBackupTimings() {
  static BackupTimings timings;
  return timings;
}

}  // namespace ObjectStore

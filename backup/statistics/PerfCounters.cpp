#include "PerfCounters.h"

#include "ThrdPerfCounter.h"

namespace ObjectStore {

const PerfCounterInfo PerfCounters[kPerfCounterCount] = {
    {0, "backupinit", 0},
    {1, "backupjobstart", 0},
    {2, "backupitem", 0},
    {3, "create", 0},
    {4, "createAndOpen", 0},
    {5, "createSymLink", 0},
    {6, "mkdir", 0},
    {7, "open", 0},
    {8, "close", 0},
    {9, "writeExtent", 0},
    {10, "write", 0},
    {11, "readExtent", 0},
    {12, "read", 0},
    {13, "unlink", 0},
    {14, "rmdir", 0},
    {15, "rename", 0},
    {16, "getattr", 0},
    {17, "setattr", 0},
    {18, "getxattr", 0},
    {19, "setxattr", 0},
    {20, "fsync", 0},
    {21, "flock", 0},
    {22, "lock", 0},
    {23, "chmod", 0},
    {24, "utimes", 0},
    {25, "chown", 0},
    {26, "truncate", 0},
    {27, "guidToPath", 0},
    {28, "pathToGuid", 0},
    {29, "readdir", 0},
    {30, "read_for_backup", 0},
    {31, "write_to_pipeline", 0},
    {32, "updateVolumeSize", 0},
    {33, "readDirEnt", 0},
    {34, "addToDirEnt", 0},
    {35, "diskRead", 0},
    {36, "diskWrite", 0},
    {37, "custom1", 0},
    {38, "custom2", 0},
    {39, "custom3", 0},
    {40, "DiskCacheSync", 0},
    {41, "DiskCacheFstat", 0},
    {42, "DiskCacheDiskRead", 0},
    {43, "DiskCacheDiskWrite", 0},
    {44, "DiskCacheOpen", 0},
    {45, "DiskCacheSeek", 0},
    {46, "DiskCacheClose", 0},
    {47, "pipeline_commit", 0},
    {48, "stream_lock_wait", 0},
};

namespace {
// The counter object when measuring is on, else null. Read at the moment of each call.
ThrdPerfCounter* ActiveCounter() {
  ThrdPerfCounter* counter = g_object_store_counter;
  if (!g_object_store_enable_perf || counter == nullptr || !counter->enabled) return nullptr;
  return counter;
}
}  // namespace

void OBJECT_STORE_START_PERF_COUNTER(const char* label, int32_t id) {
  ThrdPerfCounter* counter = ActiveCounter();
  if (counter != nullptr) counter->_StartPerfCounter(label, id);
}

void OBJECT_STORE_STOP_PERF_COUNTER(const char* label, int32_t id) {
  ThrdPerfCounter* counter = ActiveCounter();
  if (counter == nullptr) return;
  counter->_StopPerfCounter(label, id, 0);
  if (counter->logOnStop) counter->_LogPerfCounters(label, "For All The Files", -1);
}

}  // namespace ObjectStore

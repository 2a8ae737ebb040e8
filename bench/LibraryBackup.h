// RunThroughLibrary: one backup of a workload as a host does it: getController, setCallBack,
// sendItem from several threads, endBackup with waiting.
#ifndef OBJSTORE_BENCH_LIBRARYBACKUP_H_
#define OBJSTORE_BENCH_LIBRARYBACKUP_H_

#include "BenchRun.h"
#include "BenchWorkload.h"
#include "DiskCache.h"

namespace objstore_bench {

// The library must be initialised (initBackupInterace) first.
BenchRun RunThroughLibrary(const BenchWorkload& workload, ObjectStore::DiskCache& cache,
                           const BenchRunOptions& options);

}  // namespace objstore_bench

#endif  // OBJSTORE_BENCH_LIBRARYBACKUP_H_

// RunRawBaseline: the same backup without the library: the same threads read the same segments
// from the same disk cache and send the same sections on the pipeline's stream handlers
// directly, one item at a time per stream, choosing each item's stream as the library does.
// What the library costs is the difference between the two.
#ifndef OBJSTORE_BENCH_RAWBACKUP_H_
#define OBJSTORE_BENCH_RAWBACKUP_H_

#include "BenchRun.h"
#include "BenchWorkload.h"
#include "DiskCache.h"

namespace objstore_bench {

BenchRun RunRawBaseline(const BenchWorkload& workload, ObjectStore::DiskCache& cache,
                        const BenchRunOptions& options);

}  // namespace objstore_bench

#endif  // OBJSTORE_BENCH_RAWBACKUP_H_

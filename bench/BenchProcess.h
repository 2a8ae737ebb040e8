// What the benchmarks share about their own process: its memory figures and work directories.
#ifndef OBJSTORE_BENCH_BENCHPROCESS_H_
#define OBJSTORE_BENCH_BENCHPROCESS_H_

#include <string>

namespace objstore_bench {

// A field of /proc/self/status in KiB (VmRSS, VmHWM), or 0 when it cannot be read.
long ProcessStatusKib(const std::string& field);

// $TMPDIR when it is set and not empty, else `fallback`.
std::string TemporaryParent(const std::string& fallback);

// A fresh directory `<parent>/<name>-XXXXXX`, or "" when it cannot be made.
std::string MakeBenchDir(const std::string& parent, const std::string& name);

}  // namespace objstore_bench

#endif  // OBJSTORE_BENCH_BENCHPROCESS_H_

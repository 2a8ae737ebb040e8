// StatsSampler: the library's statistics, sampled while a backup runs. Every interval it takes a
// process-wide snapshot, puts the uncommitted items and the commit p99 into the progress
// counters, and, when a file is named, rewrites that file atomically (a temporary file beside it,
// then a rename, so a reader never sees half a file): Prometheus text when the name ends in
// ".prom" (the node exporter's textfile collector reads such files), JSON otherwise.
#ifndef OBJSTORE_HOST_STATSSAMPLER_H_
#define OBJSTORE_HOST_STATSSAMPLER_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "BackupStatistics.h"
#include "Progress.h"

namespace objstore_host {

class StatsSampler {
 public:
  // `file` may be empty (progress only); `progress` may be null.
  StatsSampler(std::string file, std::chrono::milliseconds interval, ProgressCounters* progress);
  // Stops, without a last write.
  ~StatsSampler();
  StatsSampler(const StatsSampler&) = delete;
  StatsSampler& operator=(const StatsSampler&) = delete;

  void start();
  // Stops sampling and writes `last` (the jobs' own figures once they have ended) as the file's
  // final content. False, with `error` set, when a write failed, now or during the run.
  bool stop(const ObjectStore::ProcessStatistics& last, std::string* error);

  // `statistics` in the format that `file`'s name asks for.
  static std::string Render(const std::string& file,
                            const ObjectStore::ProcessStatistics& statistics);
  // Replaces `file` by `text` through a temporary file in its directory.
  static bool WriteAtomically(const std::string& file, const std::string& text, std::string* error);

 private:
  void run();
  void sample(const ObjectStore::ProcessStatistics& statistics);

  const std::string file_;
  const std::chrono::milliseconds interval_;
  ProgressCounters* const progress_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::string error_;  // the first failed write
  std::thread thread_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_STATSSAMPLER_H_

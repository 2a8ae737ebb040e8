// Progress: counters that worker threads advance, and a reporter that shows them while a phase
// runs: a bar redrawn in place on a terminal, a plain line every few seconds otherwise.
#ifndef OBJSTORE_HOST_PROGRESS_H_
#define OBJSTORE_HOST_PROGRESS_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace objstore_host {

// Advanced by any thread; read by the reporter.
struct ProgressCounters {
  std::atomic<uint64_t> totalItems{0};  // 0: unknown
  std::atomic<uint64_t> items{0};       // items done
  std::atomic<uint64_t> bytes{0};
  std::atomic<uint64_t> committed{0};
  std::atomic<uint64_t> failed{0};
  std::atomic<uint64_t> uncommitted{0};      // sent, not yet committed (statistics)
  std::atomic<int64_t> commitP99Micros{-1};  // -1: no commit yet

  void reset();
};

enum class ProgressStyle { kNone, kBar, kLines };

// The counters at one moment.
struct ProgressSnapshot {
  uint64_t totalItems = 0;  // 0: unknown
  uint64_t items = 0;
  uint64_t bytes = 0;
  uint64_t committed = 0;
  uint64_t failed = 0;
  uint64_t uncommitted = 0;
  int64_t commitP99Micros = -1;
};

class ProgressReporter {
 public:
  // The style for standard error: a bar on a terminal, lines otherwise; kNone when disabled.
  static ProgressStyle StyleForStderr(bool enabled);

  // Starts reporting `counters` for `phase` on `out` (nothing with kNone). `showCommits` adds the
  // committed and failed counts.
  ProgressReporter(const std::string& phase, const ProgressCounters& counters, ProgressStyle style,
                   std::ostream& out, bool showCommits);
  // Stops, after a last report.
  ~ProgressReporter();
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  // The report of `phase` `seconds` after it began. Done/total, percent and the time left
  // only when the total is known; a bar in kBar style.
  static std::string Line(const std::string& phase, const ProgressSnapshot& counters,
                          double seconds, ProgressStyle style, bool showCommits);
  // "ETA 1m05s" at the rate so far; "" before anything is done, once everything is, or when the
  // total is unknown.
  static std::string TimeLeft(uint64_t done, uint64_t total, double seconds);

 private:
  void loop();
  std::string line() const;

  const std::string phase_;
  const ProgressCounters& counters_;
  const ProgressStyle style_;
  std::ostream& out_;
  const bool showCommits_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_PROGRESS_H_

#include "Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace objstore_host {

namespace {

const std::chrono::milliseconds kBarInterval(200);
const std::chrono::milliseconds kLineInterval(5000);
const int kBarWidth = 24;
const char kClearToEndOfLine[] = "\033[K";  // a shorter line leaves nothing of the longer one

std::string Bar(uint64_t done, uint64_t total) {
  const int filled = total == 0 ? 0 : static_cast<int>(kBarWidth * std::min(done, total) / total);
  return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
}

}  // namespace

void ProgressCounters::reset() {
  totalItems = 0;
  items = 0;
  bytes = 0;
  committed = 0;
  failed = 0;
}

ProgressStyle ProgressReporter::StyleForStderr(bool enabled) {
  if (!enabled) return ProgressStyle::kNone;
  return isatty(STDERR_FILENO) ? ProgressStyle::kBar : ProgressStyle::kLines;
}

ProgressReporter::ProgressReporter(const std::string& phase, const ProgressCounters& counters,
                                   ProgressStyle style, std::ostream& out, bool showCommits)
    : phase_(phase),
      counters_(counters),
      style_(style),
      out_(out),
      showCommits_(showCommits),
      start_(std::chrono::steady_clock::now()) {
  if (style_ != ProgressStyle::kNone) thread_ = std::thread(&ProgressReporter::loop, this);
}

ProgressReporter::~ProgressReporter() {
  if (style_ == ProgressStyle::kNone) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ProgressReporter::loop() {
  const std::chrono::milliseconds interval =
      style_ == ProgressStyle::kBar ? kBarInterval : kLineInterval;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, interval, [this] { return stopping_; })) {
    if (style_ == ProgressStyle::kBar) {
      out_ << "\r" << line() << kClearToEndOfLine << std::flush;
    } else {
      out_ << line() << "\n" << std::flush;
    }
  }
  if (style_ == ProgressStyle::kBar) {
    out_ << "\r" << line() << kClearToEndOfLine << "\n" << std::flush;
  } else {
    out_ << line() << "\n" << std::flush;
  }
}

std::string ProgressReporter::line() const {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const uint64_t items = counters_.items;
  const uint64_t total = counters_.totalItems;
  const double mib = static_cast<double>(counters_.bytes) / (1 << 20);
  char text[256];
  std::snprintf(text, sizeof(text), "%-8s %s%llu/%llu items  %.1f MiB  %.1f MiB/s  %.0f items/s",
                phase_.c_str(), style_ == ProgressStyle::kBar ? Bar(items, total).c_str() : "",
                static_cast<unsigned long long>(items), static_cast<unsigned long long>(total), mib,
                seconds > 0 ? mib / seconds : 0.0, seconds > 0 ? items / seconds : 0.0);
  std::string result = text;
  if (showCommits_) {
    std::snprintf(text, sizeof(text), "  committed %llu  failed %llu",
                  static_cast<unsigned long long>(counters_.committed.load()),
                  static_cast<unsigned long long>(counters_.failed.load()));
    result += text;
  }
  return result;
}

}  // namespace objstore_host

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

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

void ProgressCounters::reset() {
  totalItems = 0;
  items = 0;
  bytes = 0;
  committed = 0;
  failed = 0;
  uncommitted = 0;
  commitP99Micros = -1;
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
  ProgressSnapshot now;
  now.totalItems = counters_.totalItems;
  now.items = counters_.items;
  now.bytes = counters_.bytes;
  now.committed = counters_.committed;
  now.failed = counters_.failed;
  now.uncommitted = counters_.uncommitted;
  now.commitP99Micros = counters_.commitP99Micros;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  return Line(phase_, now, seconds, style_, showCommits_);
}

std::string ProgressReporter::Line(const std::string& phase, const ProgressSnapshot& counters,
                                   double seconds, ProgressStyle style, bool showCommits) {
  const uint64_t items = counters.items;
  const uint64_t total = counters.totalItems;
  const double mib = static_cast<double>(counters.bytes) / (1 << 20);
  char text[256];
  std::string result = Pad(phase, 8) + " ";
  if (total != 0) {
    if (style == ProgressStyle::kBar) result += Bar(items, total);
    std::snprintf(text, sizeof(text), "%3llu%%  %llu/%llu items",
                  static_cast<unsigned long long>(std::min(items, total) * 100 / total),
                  static_cast<unsigned long long>(items), static_cast<unsigned long long>(total));
  } else {
    std::snprintf(text, sizeof(text), "%llu items", static_cast<unsigned long long>(items));
  }
  result += text;
  const std::string left = TimeLeft(items, total, seconds);
  if (!left.empty()) result += "  " + left;
  std::snprintf(text, sizeof(text), "  %.1f MiB  %.1f MiB/s  %.0f items/s", mib,
                seconds > 0 ? mib / seconds : 0.0, seconds > 0 ? items / seconds : 0.0);
  result += text;
  if (showCommits) {
    std::snprintf(text, sizeof(text), "  committed %llu  failed %llu",
                  static_cast<unsigned long long>(counters.committed),
                  static_cast<unsigned long long>(counters.failed));
    result += text;
    std::snprintf(text, sizeof(text), "  uncommitted %llu",
                  static_cast<unsigned long long>(counters.uncommitted));
    result += text;
    if (counters.commitP99Micros >= 0) {
      std::snprintf(text, sizeof(text), "  commit p99 %.1f ms", counters.commitP99Micros / 1e3);
      result += text;
    }
  }
  return result;
}

std::string ProgressReporter::TimeLeft(uint64_t done, uint64_t total, double seconds) {
  if (total == 0 || done == 0 || done >= total || seconds <= 0) return "";
  const uint64_t left = total - done;
  const uint64_t estimate = static_cast<uint64_t>(seconds * left / done + 0.5);
  char text[32];
  if (estimate < 60) {
    std::snprintf(text, sizeof(text), "ETA %llus", static_cast<unsigned long long>(estimate));
  } else if (estimate < 3600) {
    std::snprintf(text, sizeof(text), "ETA %llum%02llus",
                  static_cast<unsigned long long>(estimate / 60),
                  static_cast<unsigned long long>(estimate % 60));
  } else {
    std::snprintf(text, sizeof(text), "ETA %lluh%02llum",
                  static_cast<unsigned long long>(estimate / 3600),
                  static_cast<unsigned long long>(estimate / 60 % 60));
  }
  return text;
}

}  // namespace objstore_host

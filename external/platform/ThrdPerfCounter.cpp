#include "ThrdPerfCounter.h"

#include <chrono>
#include <tuple>

#include "LogWriter.h"

namespace ObjectStore {
bool g_object_store_enable_perf = false;
ThrdPerfCounter* g_object_store_counter = nullptr;
}  // namespace ObjectStore

namespace {

typedef std::chrono::steady_clock Clock;
typedef std::tuple<const ThrdPerfCounter*, std::string, int> StartKey;

// Open intervals of the calling thread, so that starts and stops pair up per thread without a
// lock.
std::map<StartKey, Clock::time_point>& ThreadStarts() {
  thread_local std::map<StartKey, Clock::time_point> starts;
  return starts;
}

double Millis(uint64_t nanos) {
  return static_cast<double>(nanos) / 1e6;
}

}  // namespace

void ThrdPerfCounter::_StartPerfCounter(const char* label, int id) {
  if (label == nullptr) return;
  ThreadStarts()[StartKey(this, label, id)] = Clock::now();
}

void ThrdPerfCounter::_StopPerfCounter(const char* label, int id, uint64_t value) {
  if (label == nullptr) return;
  Clock::time_point now = Clock::now();
  auto& starts = ThreadStarts();
  auto started = starts.find(StartKey(this, label, id));
  if (started == starts.end()) return;
  uint64_t elapsed = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(now - started->second).count());
  starts.erase(started);

  std::lock_guard<std::mutex> lock(mutex_);
  Figures& figures = figures_[std::make_pair(std::string(label), id)];
  if (figures.count == 0 || elapsed < figures.minNanos) figures.minNanos = elapsed;
  if (elapsed > figures.maxNanos) figures.maxNanos = elapsed;
  ++figures.count;
  figures.totalNanos += elapsed;
  figures.totalValue += value;
}

void ThrdPerfCounter::_LogPerfCounters(const char* label, const char* text, int64_t id) {
  if (label == nullptr) return;
  Snapshot figures = snapshot();
  for (const auto& entry : figures) {
    if (entry.first.first != label || (id != -1 && entry.first.second != id)) continue;
    const Figures& f = entry.second;
    double mean = f.count == 0 ? 0.0 : Millis(f.totalNanos) / static_cast<double>(f.count);
    OBJSTORE_LOG(1,
                 "%s [%s] counter [%d] count [%llu] total [%.3f ms] mean [%.3f ms] min [%.3f ms] "
                 "max [%.3f ms]",
                 text != nullptr ? text : "", label, entry.first.second,
                 static_cast<unsigned long long>(f.count), Millis(f.totalNanos), mean,
                 Millis(f.minNanos), Millis(f.maxNanos));
  }
}

ThrdPerfCounter::Snapshot ThrdPerfCounter::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return figures_;
}

void ThrdPerfCounter::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  figures_.clear();
}

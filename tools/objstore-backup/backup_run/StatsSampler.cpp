#include "StatsSampler.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "StatisticsText.h"

namespace objstore_host {

StatsSampler::StatsSampler(std::string file, std::chrono::milliseconds interval,
                           ProgressCounters* progress)
    : file_(std::move(file)), interval_(interval), progress_(progress) {}

StatsSampler::~StatsSampler() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void StatsSampler::start() {
  thread_ = std::thread([this] { run(); });
}

bool StatsSampler::stop(const ObjectStore::ProcessStatistics& last, std::string* error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  sample(last);
  *error = error_;
  return error_.empty();
}

void StatsSampler::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, interval_, [this] { return stopping_; })) {
    lock.unlock();
    sample(ObjectStore::GetProcessStatistics());
    lock.lock();
  }
}

void StatsSampler::sample(const ObjectStore::ProcessStatistics& statistics) {
  if (progress_ != nullptr) {
    ObjectStore::StreamStatistics total;
    for (const ObjectStore::ControllerStatistics& c : statistics.controllers) {
      ObjectStore::AddStreamStatistics(c.total, &total);
    }
    progress_->uncommitted = total.uncommitted;
    progress_->commitP99Micros =
        total.commitLatency.count() == 0 ? -1 : total.commitLatency.percentileMicros(0.99);
  }
  if (file_.empty()) return;
  std::string error;
  if (!WriteAtomically(file_, Render(file_, statistics), &error)) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty()) error_ = error;
  }
}

std::string StatsSampler::Render(const std::string& file,
                                 const ObjectStore::ProcessStatistics& statistics) {
  const std::string prom = ".prom";
  const bool prometheus =
      file.size() >= prom.size() && file.compare(file.size() - prom.size(), prom.size(), prom) == 0;
  return prometheus ? ObjectStore::StatisticsToPrometheus(statistics)
                    : ObjectStore::StatisticsToJson(statistics);
}

bool StatsSampler::WriteAtomically(const std::string& file, const std::string& text,
                                   std::string* error) {
  const std::string temporary = file + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      *error = "cannot write [" + temporary + "]: " + std::strerror(errno);
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), file.c_str()) != 0) {
    *error = "cannot rename [" + temporary + "] to [" + file + "]: " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace objstore_host

#include "LoadGenerator.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "CommitSampler.h"
#include "PutRecord.h"

namespace objstore_load {

namespace {

using Clock = std::chrono::steady_clock;

int64_t WallMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Shared by the clients: lines are buffered per client and appended in blocks.
class LogSink {
 public:
  bool open(const std::string& path, std::string* error) {
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "we");
    if (file_ == nullptr) *error = "cannot open the log " + path;
    return file_ != nullptr;
  }
  ~LogSink() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool enabled() const { return file_ != nullptr; }
  void append(const std::string& block) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::fwrite(block.data(), 1, block.size(), file_) != block.size()) failed_ = true;
  }
  bool close(std::string* error) {
    if (file_ == nullptr) return true;
    const bool ok = std::fclose(file_) == 0 && !failed_;
    file_ = nullptr;
    if (!ok) *error = "cannot write the log";
    return ok;
  }

 private:
  std::mutex mutex_;
  FILE* file_ = nullptr;
  bool failed_ = false;
};

std::string AnswerText(const nlohmann::json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// Fills the record's fields from a JSON answer; a body that is not JSON is kept as the error.
void ReadAnswer(const std::string& body, PutRecord* record) {
  const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  if (!answer.is_object()) {
    record->error = body.substr(0, 200);
    return;
  }
  if (answer.contains("version") && answer["version"].is_number_unsigned())
    record->version = answer["version"].get<uint64_t>();
  if (answer.contains("id")) record->id = AnswerText(answer["id"]);
  if (answer.contains("job") && answer["job"].is_number_integer())
    record->job = answer["job"].get<int64_t>();
  if (answer.contains("stream") && answer["stream"].is_number_integer())
    record->stream = answer["stream"].get<int64_t>();
  if (answer.contains("error")) record->error = AnswerText(answer["error"]);
}

class LoadClient {
 public:
  LoadClient(const LoadOptions& options, int index, Clock::time_point deadline, LogSink* log)
      : options_(options),
        index_(index),
        deadline_(deadline),
        log_(log),
        sampler_(options.storeDir),
        random_(options.seed * 1000003 + index),
        generations_(options.keysPerClient, 0),
        http_(options.host, options.port) {
    http_.set_keep_alive(true);
    // A PUT goes out as headers, then body: without this, Nagle holds the body back for the
    // server's delayed acknowledgement (about 40 ms a request on loopback).
    http_.set_tcp_nodelay(true);
    http_.set_connection_timeout(1, 0);
    http_.set_write_timeout(10, 0);
  }

  void run() {
    const auto interval = std::chrono::nanoseconds(
        options_.rate > 0 ? static_cast<int64_t>(1e9 * options_.clients / options_.rate) : 0);
    // Clients start spread over one interval, not all at once.
    auto next = Clock::now() + interval * index_ / options_.clients;
    while (Clock::now() < deadline_) {
      if (interval.count() > 0) {
        std::this_thread::sleep_until(std::min(next, deadline_));
        next += interval;
        if (Clock::now() >= deadline_) break;
      }
      const int keyIndex = static_cast<int>(random_() % generations_.size());
      const uint64_t gen = ++generations_[keyIndex];
      const bool wait = static_cast<int>(random_() % 100) < options_.waitPercent;
      putUntilAnswered("c" + std::to_string(index_) + "/k" + std::to_string(keyIndex), gen, wait);
    }
    if (!buffer_.empty()) log_->append(buffer_);
  }

  LoadReport& report() { return report_; }
  int64_t firstSend() const { return firstSend_; }
  int64_t lastAnswer() const { return lastAnswer_; }

 private:
  // Sends one generation until an answer comes or the duration is over.
  void putUntilAnswered(const std::string& key, uint64_t gen, bool wait) {
    ObjectBytes(options_.seed, key, gen, ObjectSize(options_.seed, key, gen, options_.sizes),
                &body_);
    int backoff = options_.backoffMinMillis;
    while (true) {
      if (putOnce(key, gen, wait) || Clock::now() >= deadline_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(backoff));
      backoff = std::min(backoff * 2, options_.backoffMaxMillis);
    }
  }

  // One attempt; true when an answer came.
  bool putOnce(const std::string& key, uint64_t gen, bool wait) {
    PutRecord record;
    record.client = index_;
    record.key = key;
    record.gen = gen;
    record.size = body_.size();
    record.waitCommitted = wait;
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline_ - Clock::now());
    http_.set_read_timeout(std::max<int64_t>(left.count(), 0) + options_.graceSeconds, 0);
    record.sendMicros = WallMicros();
    if (firstSend_ == 0) firstSend_ = record.sendMicros;
    httplib::Result result =
        http_.Put(("/objects/" + key + (wait ? "?wait=committed" : "")).c_str(), body_.data(),
                  body_.size(), "application/octet-stream");
    record.answerMicros = WallMicros();
    if (result) {
      record.code = result->status;
      ReadAnswer(result->body, &record);
      lastAnswer_ = record.answerMicros;
      if (record.code == 200 && record.job >= 0 && record.stream >= 0 &&
          !options_.storeDir.empty()) {
        record.committedAtAnswer = sampler_.committedCounts(record.job);
        record.sampleMicros = WallMicros();
      }
    } else {
      record.error = httplib::to_string(result.error());
    }
    count(record);
    if (log_->enabled()) {
      buffer_ += FormatPutRecord(record);
      buffer_ += '\n';
      if (buffer_.size() > (64 << 10)) {
        log_->append(buffer_);
        buffer_.clear();
      }
    }
    return result.error() == httplib::Error::Success;
  }

  void count(const PutRecord& record) {
    ++report_.attempts;
    if (record.code == 201) {
      ++report_.created;
      report_.createdMicros.push_back(record.latencyMicros());
    } else if (record.code == 200) {
      ++report_.committed;
      report_.committedMicros.push_back(record.latencyMicros());
    } else if (record.code == 0) {
      ++report_.connectionErrors;
    } else if (record.code >= 500) {
      ++report_.unavailable;
    } else {
      ++report_.otherCodes;
      if (report_.firstOtherAnswer.empty())
        report_.firstOtherAnswer = std::to_string(record.code) + " " + record.error;
    }
    if (record.acknowledged()) report_.acknowledgedBytes += record.size;
  }

  const LoadOptions& options_;
  const int index_;
  const Clock::time_point deadline_;
  LogSink* const log_;
  CommitSampler sampler_;
  std::mt19937_64 random_;
  std::vector<uint64_t> generations_;
  httplib::Client http_;
  std::string body_;
  std::string buffer_;
  LoadReport report_;
  int64_t firstSend_ = 0;
  int64_t lastAnswer_ = 0;
};

void Merge(const LoadReport& from, LoadReport* into) {
  into->attempts += from.attempts;
  into->created += from.created;
  into->committed += from.committed;
  into->unavailable += from.unavailable;
  into->connectionErrors += from.connectionErrors;
  into->otherCodes += from.otherCodes;
  into->acknowledgedBytes += from.acknowledgedBytes;
  into->createdMicros.insert(into->createdMicros.end(), from.createdMicros.begin(),
                             from.createdMicros.end());
  into->committedMicros.insert(into->committedMicros.end(), from.committedMicros.begin(),
                               from.committedMicros.end());
  if (into->firstOtherAnswer.empty()) into->firstOtherAnswer = from.firstOtherAnswer;
}

double Millis(int64_t micros) {
  return micros / 1000.0;
}

}  // namespace

int64_t Percentile(std::vector<int64_t>* values, double q) {
  if (values->empty()) return 0;
  const size_t at = std::min(values->size() - 1, static_cast<size_t>(q * values->size()));
  std::nth_element(values->begin(), values->begin() + at, values->end());
  return (*values)[at];
}

std::string LoadReport::json() const {
  std::vector<int64_t> created = createdMicros;
  std::vector<int64_t> committedLatencies = committedMicros;
  const uint64_t acknowledged = this->created + this->committed;
  nlohmann::json out = {
      {"seconds", seconds},
      {"attempts", attempts},
      {"created", this->created},
      {"committed", this->committed},
      {"unavailable", unavailable},
      {"connection_errors", connectionErrors},
      {"other_codes", otherCodes},
      {"acknowledged_per_second", seconds > 0 ? acknowledged / seconds : 0},
      {"acknowledged_mib_per_second", seconds > 0 ? acknowledgedBytes / seconds / (1 << 20) : 0},
      {"put_p50_ms", Millis(Percentile(&created, 0.50))},
      {"put_p99_ms", Millis(Percentile(&created, 0.99))},
      {"committed_p50_ms", Millis(Percentile(&committedLatencies, 0.50))},
      {"committed_p99_ms", Millis(Percentile(&committedLatencies, 0.99))}};
  if (!firstOtherAnswer.empty()) out["first_other_answer"] = firstOtherAnswer;
  return out.dump();
}

bool LoadGenerator::run(LoadReport* report, std::string* error) {
  LogSink log;
  if (!log.open(options_.logPath, error)) return false;
  const auto deadline =
      Clock::now() + std::chrono::microseconds(static_cast<int64_t>(options_.seconds * 1e6));
  std::vector<std::unique_ptr<LoadClient>> clients;
  for (int i = 0; i < options_.clients; ++i)
    clients.push_back(std::make_unique<LoadClient>(options_, i, deadline, &log));
  std::vector<std::thread> threads;
  for (auto& client : clients) threads.emplace_back([&client] { client->run(); });
  for (std::thread& thread : threads) thread.join();
  *report = LoadReport();
  int64_t first = 0, last = 0;
  for (auto& client : clients) {
    Merge(client->report(), report);
    if (client->firstSend() != 0 && (first == 0 || client->firstSend() < first))
      first = client->firstSend();
    last = std::max(last, client->lastAnswer());
  }
  report->seconds = last > first ? (last - first) / 1e6 : 0;
  return log.close(error);
}

}  // namespace objstore_load

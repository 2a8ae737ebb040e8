#include "StatisticsText.h"

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <vector>

namespace ObjectStore {

namespace {

std::string Number(uint64_t value) {
  return std::to_string(value);
}

std::string Number(int64_t value) {
  return std::to_string(value);
}

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof(text), "%.9g", value);
  return text;
}

double Seconds(int64_t micros) {
  return static_cast<double>(micros) / 1e6;
}

// A JSON object written field by field; the names and texts here need no escaping.
class JsonObject {
 public:
  template <typename T>
  JsonObject& add(const char* name, T value) {
    return raw(name, Number(value));
  }
  JsonObject& add(const char* name, bool value) { return raw(name, value ? "true" : "false"); }
  JsonObject& text(const char* name, const char* value) {
    return raw(name, std::string("\"") + value + "\"");
  }
  JsonObject& raw(const char* name, const std::string& json) {
    text_ += (text_.empty() ? "{\"" : ",\"") + std::string(name) + "\":" + json;
    return *this;
  }
  std::string str() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

template <typename T, typename Render>
std::string JsonArray(const std::vector<T>& values, Render render) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i) text += (i == 0 ? "" : ",") + render(values[i]);
  return text + "]";
}

std::string LatencyJson(const LatencyHistogram& latency) {
  return JsonObject()
      .add("count", latency.count())
      .add("min", Seconds(latency.minMicros()))
      .add("max", Seconds(latency.maxMicros()))
      .add("mean", latency.meanMicros() / 1e6)
      .add("p50", Seconds(latency.percentileMicros(0.50)))
      .add("p90", Seconds(latency.percentileMicros(0.90)))
      .add("p99", Seconds(latency.percentileMicros(0.99)))
      .add("p99_9", Seconds(latency.percentileMicros(0.999)))
      .str();
}

// The figures every stream and every job total has.
JsonObject& AddFigures(const StreamStatistics& s, JsonObject& json) {
  return json.add("items_recorded", s.itemsRecorded)
      .add("bytes_sent", s.bytesSent)
      .add("items_committed", s.itemsCommitted)
      .raw("items_handed_back", JsonObject()
                                    .add("failed_send", s.handedBackFailedSend)
                                    .add("commit_timeout", s.handedBackCommitTimeout)
                                    .add("exception", s.handedBackException)
                                    .str())
      .add("uncommitted", s.uncommitted)
      .add("oldest_uncommitted_age_seconds", s.oldestUncommittedAgeSeconds)
      .raw("forced_commits", JsonObject()
                                 .add("uncommitted_limit", s.forcedCommitsLimit)
                                 .add("interval", s.forcedCommitsInterval)
                                 .str())
      .raw("commits_refused", JsonObject()
                                  .add("stale", s.commitsRefusedStale)
                                  .add("too_high", s.commitsRefusedTooHigh)
                                  .str())
      .raw("commit_latency_seconds", LatencyJson(s.commitLatency))
      .add("last_commit_time", s.lastCommitTime);
}

std::string StreamJson(const StreamStatistics& s) {
  JsonObject json;
  json.add("afile_id", static_cast<uint64_t>(s.aFileId))
      .add("job_id", s.jobId)
      .add("app_id", static_cast<int64_t>(s.appId))
      .add("job_ended", s.jobEnded)
      .add("registered", s.registered);
  return AddFigures(s, json).str();
}

std::string ControllerJson(const ControllerStatistics& c) {
  JsonObject totals;
  AddFigures(c.total, totals);
  std::vector<uint64_t> perStream;
  for (const StreamStatistics& s : c.streams) perStream.push_back(s.itemsRecorded);
  return JsonObject()
      .add("job_id", c.jobId)
      .add("app_id", static_cast<int64_t>(c.appId))
      .text("state", JobStateName(c.state))
      .add("start_time", c.startTime)
      .raw("totals", totals.str())
      .raw("items_per_stream", JsonArray(perStream, [](uint64_t n) { return Number(n); }))
      .raw("streams", JsonArray(c.streams, StreamJson))
      .str();
}

// One metric family of the Prometheus text format.
class Family {
 public:
  Family(std::string* out, const char* name, const char* type, const char* help)
      : out_(out), name_(std::string("objstore_backup_") + name) {
    *out_ += "# HELP " + name_ + " " + help + "\n# TYPE " + name_ + " " + type + "\n";
  }
  void sample(const std::string& labels, const std::string& value, const char* suffix = "") {
    *out_ += name_ + suffix + "{" + labels + "} " + value + "\n";
  }

 private:
  std::string* out_;
  std::string name_;
};

std::string StreamLabels(const StreamStatistics& s) {
  return "job_id=\"" + Number(s.jobId) + "\",app_id=\"" + std::to_string(s.appId) +
         "\",afile_id=\"" + std::to_string(s.aFileId) + "\"";
}

typedef std::function<std::string(const StreamStatistics&)> Value;

void StreamFamily(std::string* out, const std::vector<const StreamStatistics*>& streams,
                  const char* name, const char* type, const char* help, Value value,
                  const char* extraLabel = "") {
  Family family(out, name, type, help);
  for (const StreamStatistics* s : streams) family.sample(StreamLabels(*s) + extraLabel, value(*s));
}

void LatencyFamily(std::string* out, const std::vector<const StreamStatistics*>& streams) {
  Family family(out, "commit_latency_seconds", "histogram",
                "From an item's end-of-file record to the report of the commit that covers it.");
  for (const StreamStatistics* s : streams) {
    const LatencyHistogram& latency = s->commitLatency;
    uint64_t cumulative = 0;
    for (int i = 0; i < LatencyHistogram::kBuckets; ++i) {
      cumulative += latency.bucketCount(i);
      const int64_t bound = LatencyHistogram::UpperBoundMicros(i);
      const std::string le = bound < 0 ? "+Inf" : Number(Seconds(bound));
      family.sample(StreamLabels(*s) + ",le=\"" + le + "\"", Number(cumulative), "_bucket");
    }
    family.sample(StreamLabels(*s), Number(Seconds(latency.sumMicros())), "_sum");
    family.sample(StreamLabels(*s), Number(latency.count()), "_count");
  }
}

void StreamFamilies(std::string* out, const std::vector<const StreamStatistics*>& streams) {
  StreamFamily(out, streams, "items_recorded_total", "counter", "Items taken on by sendItem.",
               [](const StreamStatistics& s) { return Number(s.itemsRecorded); });
  StreamFamily(out, streams, "bytes_sent_total", "counter",
               "Bytes of sections the pipeline accepted.",
               [](const StreamStatistics& s) { return Number(s.bytesSent); });
  StreamFamily(out, streams, "items_committed_total", "counter", "Items reported committed.",
               [](const StreamStatistics& s) { return Number(s.itemsCommitted); });
  {
    Family family(out, "items_handed_back_total", "counter",
                  "Items handed back to the host in failed lists, by cause.");
    for (const StreamStatistics* s : streams) {
      family.sample(StreamLabels(*s) + ",cause=\"failed_send\"", Number(s->handedBackFailedSend));
      family.sample(StreamLabels(*s) + ",cause=\"commit_timeout\"",
                    Number(s->handedBackCommitTimeout));
      family.sample(StreamLabels(*s) + ",cause=\"exception\"", Number(s->handedBackException));
    }
  }
  StreamFamily(out, streams, "uncommitted_items", "gauge", "Items sent but not yet committed.",
               [](const StreamStatistics& s) { return Number(s.uncommitted); });
  StreamFamily(out, streams, "oldest_uncommitted_age_seconds", "gauge",
               "Age of the oldest uncommitted item.",
               [](const StreamStatistics& s) { return Number(s.oldestUncommittedAgeSeconds); });
  {
    Family family(out, "forced_commits_total", "counter",
                  "Commits sendItem asked for under disk-cache space pressure, by cause.");
    for (const StreamStatistics* s : streams) {
      family.sample(StreamLabels(*s) + ",cause=\"uncommitted_limit\"",
                    Number(s->forcedCommitsLimit));
      family.sample(StreamLabels(*s) + ",cause=\"interval\"", Number(s->forcedCommitsInterval));
    }
  }
  {
    Family family(out, "commits_refused_total", "counter",
                  "Commit sequence numbers refused, by reason.");
    for (const StreamStatistics* s : streams) {
      family.sample(StreamLabels(*s) + ",reason=\"stale\"", Number(s->commitsRefusedStale));
      family.sample(StreamLabels(*s) + ",reason=\"too_high\"", Number(s->commitsRefusedTooHigh));
    }
  }
  LatencyFamily(out, streams);
  StreamFamily(out, streams, "last_commit_timestamp_seconds", "gauge",
               "When the stream's last commit was reported (0: never).",
               [](const StreamStatistics& s) { return Number(s.lastCommitTime); });
}

void JobFamilies(std::string* out, const std::vector<ControllerStatistics>& controllers) {
  const JobState states[] = {JobState::kRunning, JobState::kEnding, JobState::kEnded,
                             JobState::kEndFailed};
  Family state(out, "job_state", "gauge", "1 for the state the job is in, 0 for the others.");
  for (const ControllerStatistics& c : controllers) {
    for (JobState s : states) {
      state.sample("job_id=\"" + Number(c.jobId) + "\",app_id=\"" + std::to_string(c.appId) +
                       "\",state=\"" + JobStateName(s) + "\"",
                   c.state == s ? "1" : "0");
    }
  }
  Family start(out, "job_start_time_seconds", "gauge", "When the job started.");
  for (const ControllerStatistics& c : controllers) {
    start.sample("job_id=\"" + Number(c.jobId) + "\",app_id=\"" + std::to_string(c.appId) + "\"",
                 Number(c.startTime));
  }
}

}  // namespace

std::string StatisticsToJson(const ProcessStatistics& statistics) {
  return JsonObject()
             .add("taken_at", statistics.takenAt)
             .raw("controllers", JsonArray(statistics.controllers, ControllerJson))
             .raw("other_streams", JsonArray(statistics.otherStreams, StreamJson))
             .str() +
         "\n";
}

std::string StatisticsToPrometheus(const ProcessStatistics& statistics) {
  std::vector<const StreamStatistics*> streams;
  for (const ControllerStatistics& c : statistics.controllers) {
    for (const StreamStatistics& s : c.streams) streams.push_back(&s);
  }
  for (const StreamStatistics& s : statistics.otherStreams) streams.push_back(&s);
  std::string out;
  JobFamilies(&out, statistics.controllers);
  StreamFamilies(&out, streams);
  return out;
}

}  // namespace ObjectStore

#include "StatisticsText.h"

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <utility>
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

std::string AppLabel(const ApplicationStatistics& a) {
  return "app_id=\"" + std::to_string(a.appId) + "\"";
}

typedef std::function<std::string(const ApplicationStatistics&)> Value;

// A family with one sample per application, labelled by it alone.
void AppFamily(std::string* out, const std::vector<ApplicationStatistics>& apps, const char* name,
               const char* type, const char* help, Value value) {
  Family family(out, name, type, help);
  for (const ApplicationStatistics& a : apps) family.sample(AppLabel(a), value(a));
}

// A counter family with one sample per application and value of `label`.
void LabelledCounter(
    std::string* out, const std::vector<ApplicationStatistics>& apps, const char* name,
    const char* help, const char* label,
    const std::vector<std::pair<const char*, std::function<uint64_t(const StreamStatistics&)>>>&
        values) {
  Family family(out, name, "counter", help);
  for (const ApplicationStatistics& a : apps) {
    for (const auto& value : values) {
      family.sample(AppLabel(a) + "," + label + "=\"" + value.first + "\"",
                    Number(value.second(a.totals)));
    }
  }
}

void LatencyFamily(std::string* out, const std::vector<ApplicationStatistics>& apps) {
  Family family(out, "commit_latency_seconds", "histogram",
                "From an item's end-of-file record to the report of the commit that covers it.");
  for (const ApplicationStatistics& a : apps) {
    const LatencyHistogram& latency = a.totals.commitLatency;
    uint64_t cumulative = 0;
    for (int i = 0; i < LatencyHistogram::kBuckets; ++i) {
      cumulative += latency.bucketCount(i);
      const int64_t bound = LatencyHistogram::UpperBoundMicros(i);
      const std::string le = bound < 0 ? "+Inf" : Number(Seconds(bound));
      family.sample(AppLabel(a) + ",le=\"" + le + "\"", Number(cumulative), "_bucket");
    }
    family.sample(AppLabel(a), Number(Seconds(latency.sumMicros())), "_sum");
    family.sample(AppLabel(a), Number(latency.count()), "_count");
  }
}

// Counters since the process started: they carry over from job to job.
void TotalFamilies(std::string* out, const std::vector<ApplicationStatistics>& apps) {
  AppFamily(out, apps, "items_recorded_total", "counter", "Items taken on by sendItem.",
            [](const ApplicationStatistics& a) { return Number(a.totals.itemsRecorded); });
  AppFamily(out, apps, "bytes_sent_total", "counter", "Bytes of sections the pipeline accepted.",
            [](const ApplicationStatistics& a) { return Number(a.totals.bytesSent); });
  AppFamily(out, apps, "items_committed_total", "counter", "Items reported committed.",
            [](const ApplicationStatistics& a) { return Number(a.totals.itemsCommitted); });
  LabelledCounter(
      out, apps, "items_handed_back_total",
      "Items handed back to the host in failed lists, by cause.", "cause",
      {{"failed_send", [](const StreamStatistics& s) { return s.handedBackFailedSend; }},
       {"commit_timeout", [](const StreamStatistics& s) { return s.handedBackCommitTimeout; }},
       {"exception", [](const StreamStatistics& s) { return s.handedBackException; }}});
  AppFamily(out, apps, "items_abandoned_total", "counter",
            "Items a stream record held when a later job's record took over its stream id.",
            [](const ApplicationStatistics& a) { return Number(a.itemsAbandoned); });
  LabelledCounter(
      out, apps, "forced_commits_total",
      "Commits sendItem asked for under disk-cache space pressure, by cause.", "cause",
      {{"uncommitted_limit", [](const StreamStatistics& s) { return s.forcedCommitsLimit; }},
       {"interval", [](const StreamStatistics& s) { return s.forcedCommitsInterval; }}});
  LabelledCounter(
      out, apps, "commits_refused_total", "Commit sequence numbers refused, by reason.", "reason",
      {{"stale", [](const StreamStatistics& s) { return s.commitsRefusedStale; }},
       {"too_high", [](const StreamStatistics& s) { return s.commitsRefusedTooHigh; }}});
  LatencyFamily(out, apps);
  AppFamily(out, apps, "jobs_started_total", "counter", "Jobs started.",
            [](const ApplicationStatistics& a) { return Number(a.jobsStarted); });
  AppFamily(out, apps, "jobs_ended_total", "counter", "Jobs whose endBackup completed.",
            [](const ApplicationStatistics& a) { return Number(a.jobsEnded); });
}

// What the application's stream records hold now, and its latest job.
void LiveFamilies(std::string* out, const std::vector<ApplicationStatistics>& apps) {
  AppFamily(out, apps, "uncommitted_items", "gauge", "Items sent but not yet committed.",
            [](const ApplicationStatistics& a) { return Number(a.totals.uncommitted); });
  AppFamily(
      out, apps, "oldest_uncommitted_age_seconds", "gauge", "Age of the oldest uncommitted item.",
      [](const ApplicationStatistics& a) { return Number(a.totals.oldestUncommittedAgeSeconds); });
  AppFamily(out, apps, "last_commit_timestamp_seconds", "gauge",
            "When the application's last commit was reported (0: never).",
            [](const ApplicationStatistics& a) { return Number(a.totals.lastCommitTime); });
  std::vector<ApplicationStatistics> withJob;
  for (const ApplicationStatistics& a : apps) {
    if (a.hasJob) withJob.push_back(a);
  }
  Family info(out, "job_info", "gauge",
              "1 for the application's latest job (the running one, else the last started).");
  for (const ApplicationStatistics& a : withJob) {
    info.sample(AppLabel(a) + ",job_id=\"" + Number(a.jobId) + "\",state=\"" +
                    JobStateName(a.jobState) + "\"",
                "1");
  }
  AppFamily(out, withJob, "job_start_time_seconds", "gauge", "When the latest job started.",
            [](const ApplicationStatistics& a) { return Number(a.jobStartTime); });
}

// The last job that ended, as endBackup left it.
void LastJobFamilies(std::string* out, const std::vector<ApplicationStatistics>& apps) {
  std::vector<ApplicationStatistics> ended;
  for (const ApplicationStatistics& a : apps) {
    if (a.hasLastEndedJob) ended.push_back(a);
  }
  AppFamily(out, ended, "last_job_result_code", "gauge",
            "endBackup's error code for the last job that ended (0: success).",
            [](const ApplicationStatistics& a) {
              return Number(static_cast<uint64_t>(a.lastEndedJob.result));
            });
  AppFamily(out, ended, "last_job_end_time_seconds", "gauge", "When the last job ended.",
            [](const ApplicationStatistics& a) { return Number(a.lastEndedJob.endTime); });
  AppFamily(
      out, ended, "last_job_items_recorded", "gauge", "Items the last ended job took on.",
      [](const ApplicationStatistics& a) { return Number(a.lastEndedJob.total.itemsRecorded); });
  AppFamily(
      out, ended, "last_job_items_committed", "gauge",
      "Items of the last ended job committed by its end.",
      [](const ApplicationStatistics& a) { return Number(a.lastEndedJob.total.itemsCommitted); });
  AppFamily(out, ended, "last_job_items_handed_back", "gauge",
            "Items of the last ended job handed back by its end, all causes.",
            [](const ApplicationStatistics& a) {
              return Number(a.lastEndedJob.total.itemsHandedBack());
            });
  AppFamily(
      out, ended, "last_job_items_uncommitted", "gauge",
      "Items of the last ended job still uncommitted at its end (their commits may come later).",
      [](const ApplicationStatistics& a) { return Number(a.lastEndedJob.total.uncommitted); });
}

std::string EndedJobJson(const EndedJobStatistics& job) {
  JsonObject totals;
  AddFigures(job.total, totals);
  return JsonObject()
      .add("job_id", job.jobId)
      .add("start_time", job.startTime)
      .add("end_time", job.endTime)
      .add("result", static_cast<uint64_t>(job.result))
      .raw("totals", totals.str())
      .str();
}

std::string ApplicationJson(const ApplicationStatistics& a) {
  JsonObject totals;
  AddFigures(a.totals, totals);
  JsonObject json;
  json.add("app_id", static_cast<int64_t>(a.appId))
      .raw("totals", totals.str())
      .add("items_abandoned", a.itemsAbandoned)
      .add("jobs_started", a.jobsStarted)
      .add("jobs_ended", a.jobsEnded);
  json.raw("job", a.hasJob ? JsonObject()
                                 .add("job_id", a.jobId)
                                 .text("state", JobStateName(a.jobState))
                                 .add("start_time", a.jobStartTime)
                                 .str()
                           : "null");
  json.raw("last_ended_job", a.hasLastEndedJob ? EndedJobJson(a.lastEndedJob) : "null");
  return json.str();
}

}  // namespace

std::string StatisticsToJson(const ProcessStatistics& statistics) {
  return JsonObject()
             .add("taken_at", statistics.takenAt)
             .raw("controllers", JsonArray(statistics.controllers, ControllerJson))
             .raw("other_streams", JsonArray(statistics.otherStreams, StreamJson))
             .raw("applications", JsonArray(statistics.applications, ApplicationJson))
             .str() +
         "\n";
}

std::string StatisticsToPrometheus(const ProcessStatistics& statistics) {
  std::string out;
  TotalFamilies(&out, statistics.applications);
  LiveFamilies(&out, statistics.applications);
  LastJobFamilies(&out, statistics.applications);
  return out;
}

}  // namespace ObjectStore

#include "ServeMetrics.h"

#include <sstream>

namespace objstore_host {

namespace {

void Family(std::ostringstream& out, const char* name, const char* type, const char* help,
            const std::string& value) {
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n"
      << name << " " << value << "\n";
}

}  // namespace

void ServeMetrics::countRequest(const std::string& method, int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[std::make_pair(method, code)];
}

std::string ServeMetrics::prometheusText() const {
  std::ostringstream out;
  out << "# HELP objstore_serve_requests_total HTTP requests answered, by method and status.\n"
      << "# TYPE objstore_serve_requests_total counter\n";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : requests_) {
      out << "objstore_serve_requests_total{method=\"" << entry.first.first << "\",code=\""
          << entry.first.second << "\"} " << entry.second << "\n";
    }
  }
  Family(out, "objstore_serve_received_bytes_total", "counter", "Bytes of object bodies received.",
         std::to_string(receivedBytes.load()));
  out << putSeconds.text("objstore_serve_put_seconds",
                         "Time from a PUT's start until its object was durable.");
  out << putToCommitSeconds.text("objstore_serve_put_to_commit_seconds",
                                 "Time from a PUT's start until its backup commit was reported.");
  Family(out, "objstore_serve_objects_waiting", "gauge",
         "Objects in the disk cache whose commit has not been reported.",
         std::to_string(objectsWaiting.load()));
  Family(out, "objstore_serve_jobs_started_total", "counter", "Backup jobs started.",
         std::to_string(jobsStarted.load()));
  Family(out, "objstore_serve_jobs_ended_total", "counter", "Backup jobs ended.",
         std::to_string(jobsEnded.load()));
  Family(out, "objstore_serve_resends_total", "counter",
         "Objects sent again after a job handed them back.", std::to_string(resends.load()));
  return out.str();
}

nlohmann::json ServeMetrics::json() const {
  nlohmann::json requests = nlohmann::json::array();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : requests_) {
      requests.push_back(
          {{"method", entry.first.first}, {"code", entry.first.second}, {"count", entry.second}});
    }
  }
  return {{"requests", requests},
          {"received_bytes", receivedBytes.load()},
          {"puts", putSeconds.count()},
          {"commits_reported", putToCommitSeconds.count()},
          {"objects_waiting", objectsWaiting.load()},
          {"jobs_started", jobsStarted.load()},
          {"jobs_ended", jobsEnded.load()},
          {"resends", resends.load()},
          {"bodies_cut_short", bodiesCut.load()}};
}

}  // namespace objstore_host

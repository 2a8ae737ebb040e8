#include "HttpService.h"

#include <httplib.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "BackupStatistics.h"
#include "KeyRules.h"
#include "ObjectBody.h"
#include "StatisticsText.h"

namespace objstore_host {

namespace {

const char kObjectPrefix[] = "/objects/";
const char kJson[] = "application/json";
const int kListenBacklog = 1024;

void Answer(httplib::Response& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.set_content(body.dump() + "\n", kJson);
}

void Refuse(httplib::Response& response, int status, const std::string& error) {
  Answer(response, status, {{"error", error}});
}

// The declared body size; false when the request declares none.
bool DeclaredLength(const httplib::Request& request, uint64_t* length) {
  if (!request.has_header("Content-Length")) return false;
  const std::string text = request.get_header_value("Content-Length");
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || errno != 0 || *end != '\0') return false;
  *length = value;
  return true;
}

nlohmann::json RowJson(const CatalogRow& row) {
  nlohmann::json json = {{"key", row.key},
                         {"id", row.id},
                         {"version", row.version},
                         {"size", row.size},
                         {"state", ObjectStateName(row.state)},
                         {"put_time", row.putTime}};
  if (row.state == ObjectState::kInJob) {
    json["job"] = row.job;
    json["stream"] = row.stream;
  }
  if (row.state == ObjectState::kCommitted) {
    json["committed_time"] = row.committedTime;
    if (row.job != 0) json["job"] = row.job;
  }
  if (row.handBacks > 0) {
    json["hand_backs"] = row.handBacks;
    json["reason"] = row.reason;
  }
  return json;
}

}  // namespace

HttpService::HttpService(const HttpOptions& options, ObjectWriter& writer, Catalog& catalog,
                         ServeMetrics& metrics, CommitWaiters& waiters,
                         std::function<nlohmann::json()> status)
    : options_(options),
      writer_(writer),
      catalog_(catalog),
      metrics_(metrics),
      waiters_(waiters),
      status_(std::move(status)),
      server_(new httplib::Server) {
  const size_t threads = options_.threads;
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server_->set_keep_alive_max_count(100000);
  // Small answers must leave at once, not wait for the client's delayed acknowledgement.
  server_->set_tcp_nodelay(true);
  route();
}

HttpService::~HttpService() = default;

bool HttpService::bind(const std::string& host, int port, std::string* error) {
  // The library listens with a backlog of 5: a burst of clients connecting at once (after a
  // restart, say) would see most of their handshakes dropped and retried a second later. The
  // hook keeps the socket so that listen() can be called again with a longer queue.
  // Only SO_REUSEADDR: the library's default also sets SO_REUSEPORT, which would let a second
  // service bind the same port and take half of the first one's connections.
  server_->set_socket_options([this](int fd) {
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    listenFd_ = fd;
  });
  if (port == 0) {
    port_ = server_->bind_to_any_port(host);
  } else if (server_->bind_to_port(host, port)) {
    port_ = port;
  }
  if (port_ <= 0) {
    *error = "cannot listen on " + host + ":" + std::to_string(port);
    return false;
  }
  if (listenFd_ >= 0 && listen(listenFd_, kListenBacklog) != 0) {
    *error = std::string("cannot lengthen the listen queue: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void HttpService::serve() {
  server_->listen_after_bind();
}

void HttpService::stop() {
  server_->stop();
}

bool HttpService::waitForPuts(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(putsMutex_);
  return putsDone_.wait_for(lock, timeout, [this] { return putsInFlight_ == 0; });
}

void HttpService::route() {
  const std::string objects = R"(/objects/([\s\S]*))";
  server_->Put(objects, [this](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& reader) {
    handlePut(request, response, reader);
  });
  server_->Get(objects, [this](const httplib::Request& request, httplib::Response& response) {
    handleGetObject(request, response);
  });
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(ObjectStore::StatisticsToPrometheus(ObjectStore::GetProcessStatistics()) +
                             metrics_.prometheusText(),
                         "text/plain; version=0.0.4");
  });
  server_->Get("/status", [this](const httplib::Request&, httplib::Response& response) {
    Answer(response, 200, statusJson());
  });
  server_->Get("/healthz", [this](const httplib::Request&, httplib::Response& response) {
    response.status = stopping_ ? 503 : 200;
    response.set_content(stopping_ ? "stopping\n" : "ok\n", "text/plain");
  });
  // Known paths with another method: 405, naming the allowed ones.
  const auto notAllowed = [](const char* allowed) {
    return [allowed](const httplib::Request&, httplib::Response& response) {
      response.set_header("Allow", allowed);
      Refuse(response, 405, "method not allowed; allowed: " + std::string(allowed));
    };
  };
  for (const std::string& path :
       {objects, std::string("/metrics"), std::string("/status"), std::string("/healthz")}) {
    const char* allowed = path == objects ? "GET, PUT" : "GET";
    server_->Post(path, notAllowed(allowed));
    server_->Delete(path, notAllowed(allowed));
    server_->Patch(path, notAllowed(allowed));
    server_->Options(path, notAllowed(allowed));
    if (path != objects) server_->Put(path, notAllowed(allowed));
  }
  server_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.status == 404 && response.body.empty()) Refuse(response, 404, "no such path");
  });
  // Counted before the answer is written (the logger runs after it): a client that reads the
  // metrics once it has its answer finds the request counted.
  server_->set_post_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        metrics_.countRequest(request.method, response.status);
      });
  server_->set_expect_100_continue_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        if (request.method != "PUT") return 100;
        std::string key;
        std::string error;
        const int status = screenPut(request, &key, &error);
        if (status == 0) return 100;
        Refuse(response, status, error);
        response.set_header("Connection", "close");
        return status;
      });
}

int HttpService::screenPut(const httplib::Request& request, std::string* key,
                           std::string* error) const {
  if (request.path.compare(0, sizeof(kObjectPrefix) - 1, kObjectPrefix) != 0) return 0;
  if (stopping_) {
    *error = "the service is stopping";
    return 503;
  }
  *key = request.path.substr(sizeof(kObjectPrefix) - 1);
  if (!CheckObjectKey(*key, error)) return 400;
  uint64_t length = 0;
  if (DeclaredLength(request, &length) && length > options_.maxObjectSize) {
    *error = "the body of " + std::to_string(length) + " bytes is larger than the limit of " +
             std::to_string(options_.maxObjectSize) + " bytes";
    return 413;
  }
  return 0;
}

void HttpService::handlePut(const httplib::Request& request, httplib::Response& response,
                            const httplib::ContentReader& reader) {
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(putsMutex_);
    ++putsInFlight_;
  }
  struct Done {
    HttpService* service;
    ~Done() {
      {
        std::lock_guard<std::mutex> lock(service->putsMutex_);
        --service->putsInFlight_;
      }
      service->putsDone_.notify_all();
    }
  } done{this};

  std::string key;
  std::string error;
  if (const int status = screenPut(request, &key, &error)) {
    Refuse(response, status, error);
    // The body was not read: the connection cannot carry another request.
    response.set_header("Connection", "close");
    return;
  }
  ObjectBody body(options_.maxObjectSize, options_.extentBytes);
  bool tooLarge = false;
  const bool received = reader([&body, &tooLarge](const char* data, size_t size) {
    if (body.append(data, size)) return true;
    tooLarge = true;
    return false;
  });
  if (tooLarge) {
    Refuse(response, 413,
           "the body is larger than the limit of " + std::to_string(options_.maxObjectSize) +
               " bytes");
    response.set_header("Connection", "close");
    return;
  }
  if (!received) {
    ++metrics_.bodiesCut;
    Refuse(response, 400, "the body could not be read");
    response.set_header("Connection", "close");
    return;
  }
  const bool wait = request.get_param_value("wait") == "committed";
  CatalogRow row;
  const int status = writer_.put(key, body, start, wait, &row, &error);
  if (status != 201) {
    Refuse(response, status, error);
    return;
  }
  metrics_.putSeconds.observe(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  nlohmann::json answer = {
      {"key", row.key}, {"id", row.id}, {"version", row.version}, {"size", row.size}};
  if (!wait) {
    Answer(response, 201, answer);
    return;
  }
  const CommitOutcome outcome = waiters_.wait(row.id, options_.ackTimeout);
  if (!outcome.committed) {
    Refuse(response, 503,
           outcome.done
               ? outcome.error
               : "not committed within " + std::to_string(options_.ackTimeout.count() / 1000.0) +
                     " s; the object stays in the cache and is tried again");
    return;
  }
  answer["state"] = "committed";
  answer["job"] = outcome.job;
  answer["stream"] = outcome.stream;
  Answer(response, 200, answer);
}

void HttpService::handleGetObject(const httplib::Request& request, httplib::Response& response) {
  const std::string key = request.path.substr(sizeof(kObjectPrefix) - 1);
  std::string error;
  if (!CheckObjectKey(key, &error)) {
    Refuse(response, 400, error);
    return;
  }
  CatalogRow row;
  if (!catalog_.latest(key, &row)) {
    Refuse(response, 404, "no object with this key");
    return;
  }
  Answer(response, 200, RowJson(row));
}

nlohmann::json HttpService::statusJson() const {
  nlohmann::json json = metrics_.json();
  json["accepting"] = !stopping_.load();
  if (status_) json.update(status_());
  return json;
}

}  // namespace objstore_host

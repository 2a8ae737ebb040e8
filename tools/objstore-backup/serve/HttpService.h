// HttpService: the service's HTTP/1.1 interface (cpp-httplib).
//
//   PUT /objects/{key}[?wait=committed]   store a new version of an object
//   GET /objects/{key}                    the key's latest version and where it stands
//   GET /metrics                          the library's and the service's Prometheus families
//   GET /status                           the same as JSON, with process and library sizes
//   GET /healthz                          "ok" while objects are taken, 503 while stopping
//
// A PUT whose key is refused (400), whose declared body is too large (413) or that arrives
// while stopping (503) is answered before its body is read, also to a client that sent
// "Expect: 100-continue"; such a connection is closed after the answer. A body is collected in
// memory and written as a segment only once complete: a client that disconnects mid-body
// leaves nothing behind.
#ifndef OBJSTORE_HOST_SERVE_HTTPSERVICE_H_
#define OBJSTORE_HOST_SERVE_HTTPSERVICE_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "Catalog.h"
#include "CommitWaiters.h"
#include "ObjectWriter.h"
#include "ServeMetrics.h"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace objstore_host {

struct HttpOptions {
  uint64_t maxObjectSize = uint64_t{1} << 30;
  uint64_t extentBytes = uint64_t{1} << 20;  // largest data section of a segment
  std::chrono::milliseconds ackTimeout{60000};
  size_t threads = 64;  // connections served at once (each keeps its thread while alive)
};

class HttpService {
 public:
  // `status` (may be empty) adds the service's other figures to /status. Everything given must
  // outlive the service.
  HttpService(const HttpOptions& options, ObjectWriter& writer, Catalog& catalog,
              ServeMetrics& metrics, CommitWaiters& waiters,
              std::function<nlohmann::json()> status);
  ~HttpService();
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  // Binds `host`:`port` (0: any free port). False, with the reason in `error`, on failure.
  bool bind(const std::string& host, int port, std::string* error);
  int port() const { return port_; }
  // Serves until stop(). Call once, after bind; blocks.
  void serve();
  // From now on PUTs get 503 and /healthz says so. Thread-safe.
  void refuseObjects() { stopping_ = true; }
  // Waits up to `timeout` until no PUT is being handled; false when some still are.
  bool waitForPuts(std::chrono::milliseconds timeout);
  // Makes serve() return. Thread-safe.
  void stop();

 private:
  void route();
  void handlePut(const httplib::Request& request, httplib::Response& response,
                 const httplib::ContentReader& reader);
  void handleGetObject(const httplib::Request& request, httplib::Response& response);
  // The status of a PUT that is answered before its body is read; 0 to read the body.
  int screenPut(const httplib::Request& request, std::string* key, std::string* error) const;
  nlohmann::json statusJson() const;

  const HttpOptions options_;
  ObjectWriter& writer_;
  Catalog& catalog_;
  ServeMetrics& metrics_;
  CommitWaiters& waiters_;
  std::function<nlohmann::json()> status_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  int listenFd_ = -1;  // set while binding, by the socket-options hook
  std::atomic<bool> stopping_{false};
  std::mutex putsMutex_;
  std::condition_variable putsDone_;
  int putsInFlight_ = 0;  // guarded by putsMutex_
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_HTTPSERVICE_H_

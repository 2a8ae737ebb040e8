// LoadGenerator: N clients PUT generated objects to a backup service for a while, each on its
// own keep-alive connection, and log every attempt (PutRecord.h).
//
// Each client owns its keys ("c<client>/k<index>"), so the PUTs of one key never overlap and its
// generations are ordered. A connection error (the server was killed, or is starting) is logged
// as an answer that never came, and the same generation is sent again after a short back-off
// that doubles up to a bound. With a rate, each client starts its PUTs on a fixed schedule (a
// client that falls behind sends at once until it has caught up). The run stops by itself: no PUT
// starts after the duration, and a PUT in flight then waits at most `graceSeconds` for its answer.
#ifndef OBJSTORE_LOAD_LOADGENERATOR_H_
#define OBJSTORE_LOAD_LOADGENERATOR_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ObjectContent.h"

namespace objstore_load {

struct LoadOptions {
  std::string host = "127.0.0.1";
  int port = 8080;
  int clients = 16;
  double seconds = 10;
  double graceSeconds = 30;
  uint64_t seed = 1;
  int keysPerClient = 200;
  int waitPercent = 5;  // PUTs that ask for ?wait=committed
  double rate = 0;      // PUTs per second started by all clients together; 0: as fast as answered
  SizeMix sizes;
  std::string logPath;   // the request log; empty: none
  std::string storeDir;  // sampled at committed answers (CommitSampler.h); empty: not sampled
  int backoffMinMillis = 10;
  int backoffMaxMillis = 200;
};

struct LoadReport {
  double seconds = 0;  // from the first send to the last answer
  uint64_t attempts = 0;
  uint64_t created = 0;      // 201
  uint64_t committed = 0;    // 200
  uint64_t unavailable = 0;  // 5xx: may be stored
  uint64_t connectionErrors = 0;
  uint64_t otherCodes = 0;  // anything else: the service refused a well-formed PUT
  uint64_t acknowledgedBytes = 0;
  std::vector<int64_t> createdMicros;    // latencies of 201 answers
  std::vector<int64_t> committedMicros;  // latencies of 200 answers
  std::string firstOtherAnswer;

  // The report as one JSON object: counts, rates and the p50/p99 of both latencies in ms.
  std::string json() const;
};

class LoadGenerator {
 public:
  explicit LoadGenerator(const LoadOptions& options) : options_(options) {}

  // Runs the clients until the duration is over and their last answers came. Errors: the log
  // cannot be opened or written (the text in `error`, false returned).
  bool run(LoadReport* report, std::string* error);

 private:
  LoadOptions options_;
};

// The value at fraction `q` (0..1) of `values`, which it sorts; 0 for none.
int64_t Percentile(std::vector<int64_t>* values, double q);

}  // namespace objstore_load

#endif  // OBJSTORE_LOAD_LOADGENERATOR_H_

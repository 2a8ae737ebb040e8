// ServeOptions: what the serve command is given.
#ifndef OBJSTORE_HOST_SERVE_SERVEOPTIONS_H_
#define OBJSTORE_HOST_SERVE_SERVEOPTIONS_H_

#include <cstdint>
#include <string>

#include "BackupRun.h"

namespace objstore_host {

struct ServeOptions {
  // The cache, root, store, application, streams, threads and resend rounds, as for backup.
  BackupOptions backup;
  std::string listen = "127.0.0.1:8080";  // ADDR:PORT; port 0: any free port
  uint64_t jobObjects = 10000;            // a job ends after this many objects...
  double jobSeconds = 10;                 // ...or this long, whichever comes first
  double ackTimeoutSeconds = 60;          // longest wait of a PUT ?wait=committed
  uint64_t maxObjectSize = uint64_t{1} << 30;
  uint64_t extentSize = uint64_t{1} << 20;  // largest data section of a segment
  std::string catalogFile;                  // empty: DefaultCatalogFile(cache)
  uint64_t httpThreads = 64;                // connections served at once

  // The catalog beside the cache directory: "<cache>.catalog.sqlite". Not inside it, where it
  // would be taken for a segment; on the same file system, so one sync covers both.
  static std::string DefaultCatalogFile(const std::string& cacheDir);
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_SERVEOPTIONS_H_

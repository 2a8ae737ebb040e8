#include "KAPI_Focus.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

const char* KAPI_Focus::getFocusClientName(bool /*refresh*/) {
  // One buffer per thread: a call on another thread never changes the text a caller holds.
  thread_local std::string name;
  const char* override = getenv("OBJSTORE_CLIENT_NAME");
  if (override != nullptr && *override != '\0') {
    name = override;
    return name.c_str();
  }
  char host[256] = {0};
  if (gethostname(host, sizeof(host) - 1) != 0 || host[0] == '\0') {
    name = "localhost";
  } else {
    name = host;
  }
  return name.c_str();
}

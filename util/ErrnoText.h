// ErrnoText: the text of an errno value, safe to call from any thread (strerror's buffer is
// shared between threads; this one is the caller's). Internal to the library.
#ifndef OBJSTORE_UTIL_ERRNOTEXT_H_
#define OBJSTORE_UTIL_ERRNOTEXT_H_

#include <cstring>
#include <string>

namespace ObjectStore {

inline std::string ErrnoText(int err) {
  char buffer[256];
  return strerror_r(err, buffer, sizeof(buffer));
}

}  // namespace ObjectStore

#endif  // OBJSTORE_UTIL_ERRNOTEXT_H_

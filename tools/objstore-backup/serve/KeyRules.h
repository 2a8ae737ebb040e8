// KeyRules: which object keys the service accepts. A key becomes the object's path when it is
// restored, so it must stay inside the restore directory, and it is stored as text.
#ifndef OBJSTORE_HOST_SERVE_KEYRULES_H_
#define OBJSTORE_HOST_SERVE_KEYRULES_H_

#include <cstddef>
#include <string>

namespace objstore_host {

constexpr size_t kMaxKeyBytes = 1024;

// True for a key of 1 to kMaxKeyBytes bytes of valid UTF-8 that is a safe relative path (no
// leading '/', no empty, "." or ".." segments, no NUL). Otherwise false, with a sentence saying
// why in `reason`. `key` is the percent-decoded text.
bool CheckObjectKey(const std::string& key, std::string* reason);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(const std::string& text);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_KEYRULES_H_

// ParseSize: a size as the host program's options take it: bytes, or a whole number followed by
// KiB, MiB or GiB.
#ifndef OBJSTORE_LOAD_SIZEOPTION_H_
#define OBJSTORE_LOAD_SIZEOPTION_H_

#include <cstdint>
#include <string>

namespace objstore_load {

// False for text that is no such size, or a size above 1 TiB.
bool ParseSize(const std::string& text, uint64_t* bytes);

}  // namespace objstore_load

#endif  // OBJSTORE_LOAD_SIZEOPTION_H_

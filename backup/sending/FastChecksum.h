// The stream-choice checksum: cheap, reads at most five characters. Internal to the library.
#ifndef OBJSTORE_BACKUP_FASTCHECKSUM_H_
#define OBJSTORE_BACKUP_FASTCHECKSUM_H_

#include <cstddef>
#include <string>

namespace ObjectStore {

// Characters count as signed 8-bit values. Longer than 32 characters: the first plus the last
// four; 1 to 32 characters: the first alone; empty: 0.
int fastChecksum(const std::string& text);
// The same over `length` characters at `text`, for a caller that holds them in place.
int fastChecksum(const char* text, size_t length);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_FASTCHECKSUM_H_

// The warning for a job whose items all chose one of its several streams. Internal to the
// library.
//
// An item's stream is chosen from the identifier after the comma in its header's h_filename
// (fastChecksum): an identifier of 32 characters or fewer counts by its first character alone,
// so a host that names its sources "src-1", "src-2", ... sends every item to one stream, and
// the job runs at the speed of one stream without any error to say so.
#ifndef OBJSTORE_BACKUP_STREAMSPREAD_H_
#define OBJSTORE_BACKUP_STREAMSPREAD_H_

#include <cstdint>
#include <vector>

namespace ObjectStore {

// Fewer items than this may share one stream by chance (one in 2^15 with two streams).
constexpr uint64_t kOneStreamWarningItems = 16;

// Logs one warning (level -1) when the job had several streams, at least kOneStreamWarningItems
// items went to them, and every one of those went to the same stream. `itemsPerStream` holds the
// items each stream received. True when it warned.
bool WarnIfOneStreamTookAll(long long jobId, const std::vector<uint64_t>& itemsPerStream);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_STREAMSPREAD_H_

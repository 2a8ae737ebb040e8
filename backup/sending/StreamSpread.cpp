#include "StreamSpread.h"

#include "LogWriter.h"

namespace ObjectStore {

bool WarnIfOneStreamTookAll(long long jobId, const std::vector<uint64_t>& itemsPerStream) {
  uint64_t total = 0;
  size_t used = 0;
  size_t busiest = 0;
  for (size_t i = 0; i < itemsPerStream.size(); ++i) {
    total += itemsPerStream[i];
    if (itemsPerStream[i] == 0) continue;
    ++used;
    busiest = i;
  }
  if (itemsPerStream.size() < 2 || used != 1 || total < kOneStreamWarningItems) return false;
  OBJSTORE_LOG(-1,
               "WARN: all [%llu] items of job [%lld] went to one of its [%zu] streams (stream "
               "index [%zu]). An item's stream is chosen from the identifier after the comma in "
               "its header's h_filename, and an identifier of 32 characters or fewer is judged "
               "by its first character alone. Give every object a distinct identifier of 40 "
               "characters, such as a hex digest.",
               static_cast<unsigned long long>(total), jobId, itemsPerStream.size(), busiest);
  return true;
}

}  // namespace ObjectStore

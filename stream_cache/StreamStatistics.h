// StreamStatistics: one stream record's figures at one moment, taken by StreamInfo::statistics.
//
// Every count is taken in the same critical section that moves items, so in every snapshot
//   itemsRecorded == itemsCommitted + itemsHandedBack() + uncommitted
// holds exactly. Counters only grow; gauges (uncommitted, the age) go up and down.
#ifndef OBJSTORE_STREAM_CACHE_STREAMSTATISTICS_H_
#define OBJSTORE_STREAM_CACHE_STREAMSTATISTICS_H_

#include <cstdint>

#include "LatencyHistogram.h"
#include "ObjStoreExport.h"

namespace ObjectStore {

// Why items went back to the host.
enum class HandBackCause { kFailedSend, kCommitTimeout, kException };

struct StreamStatistics {
  uint32_t aFileId = 0;
  int64_t jobId = 0;
  int32_t appId = 0;
  bool jobEnded = false;       // its job's endBackup released it
  bool registered = false;     // gStreams still holds it
  uint64_t itemsRecorded = 0;  // taken on by sendItem (recorded before any byte was sent)
  uint64_t bytesSent = 0;      // of sections the pipeline accepted
  uint64_t itemsCommitted = 0;
  uint64_t handedBackFailedSend = 0;
  uint64_t handedBackCommitTimeout = 0;
  uint64_t handedBackException = 0;
  uint64_t uncommitted = 0;
  double oldestUncommittedAgeSeconds = 0;  // 0 without uncommitted items
  uint64_t forcedCommitsLimit = 0;         // under space pressure, the uncommitted limit reached
  uint64_t forcedCommitsInterval = 0;      // under space pressure, the interval passed
  uint64_t commitsRefusedStale = 0;        // a sequence number below the previous one
  uint64_t commitsRefusedTooHigh = 0;      // a number beyond the items the stream holds
  // From an item's end-of-file record to the report of the commit that covers it.
  LatencyHistogram commitLatency;
  int64_t lastCommitTime = 0;  // seconds since the epoch of the last report; 0: none yet

  uint64_t itemsHandedBack() const {
    return handedBackFailedSend + handedBackCommitTimeout + handedBackException;
  }
};

// Adds the figures of `stream` to `total`: counts summed, commit latency histograms merged, the
// later last commit and the larger oldest uncommitted age kept (ControllerStatistics::total in
// BackupStatistics.h is such a sum).
OBJSTORE_API void AddStreamStatistics(const StreamStatistics& stream, StreamStatistics* total);

}  // namespace ObjectStore

#endif  // OBJSTORE_STREAM_CACHE_STREAMSTATISTICS_H_

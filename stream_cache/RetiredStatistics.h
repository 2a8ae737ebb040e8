// RetiredStatistics: per application, the figures that outlive the stream records they were
// counted in, so that a process's totals keep growing across its jobs.
//
// A record's counters live in the record while gStreams holds it; the moment it leaves the
// registry (its job ended and it emptied, or a later job's record took its id) they move here,
// at their final value. Totals read in one hold of gStreamLock are then these retired figures
// plus those of every record still registered: no record is counted twice or missed, and every
// counter of the totals only grows while the process lives. Figures a record gains after it left
// (a send that outlived its job's end) are not counted.
#ifndef OBJSTORE_STREAM_CACHE_RETIREDSTATISTICS_H_
#define OBJSTORE_STREAM_CACHE_RETIREDSTATISTICS_H_

#include <cstdint>
#include <map>

#include "ObjectStoreStreamInfo.h"
#include "StreamStatistics.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

// One application's figures since the process started.
struct ApplicationTotals {
  // The counters summed over every record the application ever registered, histograms merged;
  // `uncommitted` and the oldest age are those of its records registered now.
  StreamStatistics figures;
  // Items a record still held when a later job's record took its id: nobody reports them
  // committed or hands them back any more. With them,
  //   itemsRecorded == itemsCommitted + itemsHandedBack() + uncommitted + itemsAbandoned.
  uint64_t itemsAbandoned = 0;
};

// Moves the figures of `record`, which is leaving gStreams now, into its application's retired
// totals. Call it exactly once per record, in the critical section that takes the record out.
void RetireStreamStatistics(StreamInfo& record) REQUIRES(gStreamLock);

// Per application id, the retired figures plus those of every registered record, read in one
// hold of gStreamLock (each record's item lock is taken in turn inside it). Not from the commit
// callback, which runs under gStreamLock.
std::map<int32_t, ApplicationTotals> GetApplicationTotals() EXCLUDES(gStreamLock);

}  // namespace ObjectStore

#endif  // OBJSTORE_STREAM_CACHE_RETIREDSTATISTICS_H_

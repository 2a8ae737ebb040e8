#include "StreamStatistics.h"

#include <algorithm>

namespace ObjectStore {

void AddStreamStatistics(const StreamStatistics& stream, StreamStatistics* total) {
  total->itemsRecorded += stream.itemsRecorded;
  total->bytesSent += stream.bytesSent;
  total->itemsCommitted += stream.itemsCommitted;
  total->handedBackFailedSend += stream.handedBackFailedSend;
  total->handedBackCommitTimeout += stream.handedBackCommitTimeout;
  total->handedBackException += stream.handedBackException;
  total->uncommitted += stream.uncommitted;
  total->oldestUncommittedAgeSeconds =
      std::max(total->oldestUncommittedAgeSeconds, stream.oldestUncommittedAgeSeconds);
  total->forcedCommitsLimit += stream.forcedCommitsLimit;
  total->forcedCommitsInterval += stream.forcedCommitsInterval;
  total->commitsRefusedStale += stream.commitsRefusedStale;
  total->commitsRefusedTooHigh += stream.commitsRefusedTooHigh;
  total->commitLatency.merge(stream.commitLatency);
  total->lastCommitTime = std::max(total->lastCommitTime, stream.lastCommitTime);
}

}  // namespace ObjectStore

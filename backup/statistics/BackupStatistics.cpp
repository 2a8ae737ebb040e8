#include "BackupStatistics.h"

namespace ObjectStore {

const char* JobStateName(JobState state) {
  switch (state) {
    case JobState::kRunning:
      return "running";
    case JobState::kEnding:
      return "ending";
    case JobState::kEnded:
      return "ended";
    case JobState::kEndFailed:
      return "end_failed";
  }
  return "unknown";
}

}  // namespace ObjectStore

#include "Restorer.h"

#include <chrono>

#include "ScopedInterrupt.h"

namespace objstore_host {

Restorer::Restorer(const RestoreOptions& options, ProgressCounters* progress)
    : options_(options), progress_(progress) {}

RestoreResult Restorer::run() {
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  result_ = RestoreResult();
  latest_ = LatestCopies();
  const RestoreTarget target(options_.targetDir, options_.overwrite);
  std::string error;
  if (findLatestCopies()) {
    if (!target.create(&error)) {
      result_.problems.push_back(error);
    } else {
      result_.temporariesRemoved = target.removeStaleTemporaries(&result_.problems);
      if (progress_ != nullptr) progress_->totalItems = latest_.paths();
      StoreWalker walker(options_.storeDir);
      walker.stopWhen(options_.interrupt);
      walker.walk(
          options_.jobId, options_.allJobs,
          [this, &target](const StoredCopy& copy) { restore(copy, target); }, &result_.walk);
    }
  }
  result_.interrupted = IsInterrupted(options_.interrupt);
  result_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result_;
}

bool Restorer::findLatestCopies() {
  WalkStats stats;
  StoreWalker walker(options_.storeDir);
  walker.stopWhen(options_.interrupt);
  const bool listed = walker.walk(
      options_.jobId, options_.allJobs,
      [this](const StoredCopy& copy) {
        latest_.offer(copy.metadata.path, copy.metadata.version, copy.jobId,
                      CopyPlace(copy.file, copy.item->index));
      },
      &stats, false);
  if (!listed) {
    result_.problems = stats.problems;
    return false;
  }
  if (IsInterrupted(options_.interrupt)) return false;
  if (stats.runs == 0) {
    result_.problems.push_back(
        "the store [" + options_.storeDir + "] holds no run" +
        (options_.allJobs ? "" : " of job " + std::to_string(options_.jobId)));
    return false;
  }
  result_.superseded = latest_.offered() - latest_.paths();
  return true;
}

void Restorer::restore(const StoredCopy& copy, const RestoreTarget& target) {
  if (!latest_.isChosen(copy.metadata.path, CopyPlace(copy.file, copy.item->index))) return;
  std::string why;
  switch (target.place(copy, &why)) {
    case RestoreTarget::kWritten:
      ++result_.written;
      break;
    case RestoreTarget::kUpToDate:
      ++result_.upToDate;
      break;
    case RestoreTarget::kSkipped:
      result_.skipped.push_back(copy.metadata.path + ": " + why);
      return;
    case RestoreTarget::kFailed:
      result_.problems.push_back(copy.metadata.path + ": " + why);
      return;
  }
  ++result_.objects;
  result_.bytes += copy.metadata.size;
  if (progress_ != nullptr) {
    ++progress_->items;
    progress_->bytes += copy.metadata.size;
  }
}

}  // namespace objstore_host

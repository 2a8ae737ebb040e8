#include "Verifier.h"

#include <chrono>

#include "FileCompare.h"

namespace objstore_host {

Verifier::Verifier(const VerifyOptions& options, ProgressCounters* progress)
    : options_(options), progress_(progress) {}

VerifyResult Verifier::run() {
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  result_ = VerifyResult();
  source_.clear();
  outcome_.clear();
  std::vector<SourceEntry> entries;
  if (!SourceTree(options_.sourceDir).list(&entries, &result_.problems)) return result_;
  for (const SourceEntry& entry : entries) source_[entry.relativePath] = entry;
  result_.sourceObjects = source_.size();
  if (progress_ != nullptr) progress_->totalItems = source_.size();

  const bool listed = StoreWalker(options_.storeDir)
                          .walk(
                              options_.jobId, options_.allJobs,
                              [this](const StoredCopy& copy) { check(copy); }, &result_.walk);
  if (listed && result_.walk.runs == 0) {
    result_.noRuns = "the store [" + options_.storeDir + "] holds no run" +
                     (options_.allJobs ? "s" : " of job " + std::to_string(options_.jobId));
    return result_;
  }
  for (const auto& outcome : outcome_) {
    std::map<std::string, SourceEntry>::const_iterator entry = source_.find(outcome.first);
    if (entry == source_.end()) {
      result_.extra.push_back(outcome.first);
    } else if (!outcome.second.empty()) {
      result_.mismatched.push_back(outcome.first + ": " + outcome.second);
    } else {
      ++result_.verified;
      result_.bytes += entry->second.kind == ObjectKind::kFile ? entry->second.status.st_size : 0;
    }
  }
  for (const auto& entry : source_) {
    if (outcome_.count(entry.first) == 0) result_.missing.push_back(entry.first);
  }
  result_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result_;
}

void Verifier::check(const StoredCopy& copy) {
  const std::string& path = copy.metadata.path;
  std::map<std::string, SourceEntry>::const_iterator entry = source_.find(path);
  outcome_[path] = entry == source_.end() ? "" : Compare(entry->second, copy);
  if (progress_ != nullptr) {
    ++progress_->items;
    progress_->bytes += copy.metadata.size;
  }
}

std::string Verifier::Compare(const SourceEntry& entry, const StoredCopy& copy) {
  if (entry.kind != copy.metadata.kind) {
    return std::string("stored as a ") + ObjectKindName(copy.metadata.kind) + ", the source is a " +
           ObjectKindName(entry.kind);
  }
  std::string difference;
  if (entry.kind == ObjectKind::kFile) {
    FileMatchesCopy(entry.absolutePath, copy, &difference);
  } else if (entry.kind == ObjectKind::kSymlink) {
    ObjectMetadata current;
    if (!SourceTree::Describe(entry, &current, &difference)) return difference;
    if (current.linkTarget != copy.metadata.linkTarget) {
      difference = "link target [" + copy.metadata.linkTarget + "], the source has [" +
                   current.linkTarget + "]";
    }
  }
  return difference;
}

}  // namespace objstore_host

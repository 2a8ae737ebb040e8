#include "Ledger.h"

namespace stress {

namespace {
const size_t kMaxViolations = 50;  // the first ones tell the story
}

uint64_t Ledger::open(const std::string& name, int64_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t id = attempts_.size();
  Attempt attempt;
  attempt.name = name;
  attempt.jobId = jobId;
  attempts_.push_back(attempt);
  if (open_.count(name) != 0 && violations_.size() < kMaxViolations) {
    violations_.push_back("harness: " + name + " sent again while its send is outstanding");
  }
  open_[name] = id;
  return id;
}

void Ledger::noteEndOfFile(uint64_t id, uint32_t aFileId) {
  std::lock_guard<std::mutex> lock(mutex_);
  Attempt& attempt = attempts_.at(id);
  if (attempt.aFileId != 0) return;  // the end of an item after an exception
  attempt.aFileId = aFileId;
  attempt.order = ++endOfFiles_[aFileId];
}

bool Ledger::hadEndOfFile(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return attempts_.at(id).aFileId != 0;
}

void Ledger::returned(uint64_t id, Outcome outcome, const std::string& detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  Attempt& attempt = attempts_.at(id);
  attempt.outcome = outcome;
  if (outcome == Outcome::kFailed && attempt.end == End::kCommitted) {
    violations_.push_back(attempt.name + ": its send failed (" + detail +
                          ") and it was reported committed");
  }
  if (outcome != Outcome::kRefused) return;
  if (attempt.end != End::kOpen) {
    violations_.push_back(attempt.name + ": refused (" + detail + ") but already reported");
    return;
  }
  endLocked(id, End::kRefused, "refused");
}

void Ledger::committed(uint32_t aFileId, const std::list<std::string>& items, uint64_t durable) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& name : items) {
    auto found = open_.find(name);
    if (found == open_.end()) {
      violations_.push_back(name + ": reported committed on stream " + std::to_string(aFileId) +
                            " with no send outstanding (twice, or after a hand-back)");
      continue;
    }
    Attempt& attempt = attempts_.at(found->second);
    if (attempt.aFileId != aFileId) {
      violations_.push_back(name + ": reported committed on stream " + std::to_string(aFileId) +
                            " but its end-of-file went to stream " +
                            std::to_string(attempt.aFileId));
    }
    uint64_t& last = lastCommitted_[aFileId];
    if (attempt.order <= last) {
      violations_.push_back(name + ": committed out of its stream's send order");
    }
    last = attempt.order;
    if (durable != 0 && attempt.order > durable) {
      violations_.push_back(name + ": reported committed by a commit of " +
                            std::to_string(durable) + " items, but it is item " +
                            std::to_string(attempt.order) + " of its stream");
    }
    if (attempt.outcome == Outcome::kFailed) {
      violations_.push_back(name + ": its send failed and it was reported committed");
    }
    endLocked(found->second, End::kCommitted, "commit");
  }
}

void Ledger::handedBack(const std::list<std::string>& items, const std::string& where) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& name : items) {
    auto found = open_.find(name);
    if (found == open_.end()) {
      violations_.push_back(name + ": handed back (" + where +
                            ") with no send outstanding (twice, or after its commit)");
      continue;
    }
    endLocked(found->second, End::kHandedBack, where);
  }
}

void Ledger::endLocked(uint64_t id, End end, const std::string& /*where*/) {
  Attempt& attempt = attempts_.at(id);
  attempt.end = end;
  auto found = open_.find(attempt.name);
  if (found != open_.end() && found->second == id) open_.erase(found);
}

void Ledger::checkAllEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : open_) {
    const Attempt& attempt = attempts_.at(entry.second);
    if (violations_.size() >= kMaxViolations) break;
    violations_.push_back(entry.first + " (job " + std::to_string(attempt.jobId) +
                          "): never reported committed nor handed back: lost");
  }
}

Ledger::JobCounts Ledger::countsFor(int64_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  JobCounts counts;
  for (const Attempt& attempt : attempts_) {
    if (attempt.jobId != jobId) continue;
    const bool recorded = attempt.outcome == Outcome::kSent || attempt.outcome == Outcome::kFailed;
    if (recorded) ++counts.recorded;
    if (attempt.end == End::kCommitted) ++counts.committed;
    if (attempt.end == End::kHandedBack) ++counts.handedBack;
    if (attempt.end == End::kOpen) ++counts.open;
  }
  return counts;
}

std::vector<std::string> Ledger::openNames(int64_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const auto& entry : open_) {
    if (attempts_.at(entry.second).jobId == jobId) names.push_back(entry.first);
  }
  return names;
}

void Ledger::violation(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (violations_.size() < kMaxViolations) violations_.push_back(text);
}

bool Ledger::failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !violations_.empty();
}

std::vector<std::string> Ledger::violations() {
  std::lock_guard<std::mutex> lock(mutex_);
  return violations_;
}

uint64_t Ledger::attempts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return attempts_.size();
}

uint64_t Ledger::ended(End end) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t count = 0;
  for (const Attempt& attempt : attempts_) count += attempt.end == end ? 1 : 0;
  return count;
}

}  // namespace stress

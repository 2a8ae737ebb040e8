#include "SoakChecker.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "CommitSampler.h"
#include "ObjectContent.h"

namespace objstore_load {

std::string SoakVerdict::json() const {
  return nlohmann::json{{"failures", failures.size()},
                        {"generations", generations},
                        {"acknowledged", acknowledged},
                        {"committed_answers", committedAnswers},
                        {"unknown", unknown},
                        {"unknown_stored", unknownStored},
                        {"stored_copies", storedCopies},
                        {"stored_without_answer", storedWithoutAnswer},
                        {"duplicates", duplicates},
                        {"duplicates_after_kill", duplicatesAfterKill},
                        {"duplicates_after_failed_send", duplicatesAfterFailedSend},
                        {"restored_files", restoredFiles},
                        {"max_sample_delay_ms", maxSampleDelayMicros / 1000.0}}
      .dump();
}

void SoakChecker::addPut(const PutRecord& put) {
  Generation& gen = keys_[put.key][put.gen];
  gen.size = put.size;
  if (put.acknowledged()) {
    gen.acknowledged = true;
    if (put.version != 0) gen.versions.insert(put.version);
  } else {
    gen.unanswered = true;
  }
  if (put.code == 200) gen.committedAnswers.push_back(put);
}

void SoakChecker::addStoredCopy(const StoredCopy& copy) {
  copies_.push_back(copy);
}

void SoakChecker::addFailedItem(const FailedItem& item) {
  failedItems_[CommitSampler::StreamKey(item.runId, item.aFileId)].push_back(item.index);
}

void SoakChecker::addRestoredFile(const RestoredFile& file) {
  restored_.push_back(file);
}

bool SoakChecker::holdsBytes(const std::string& key, uint64_t number, Generation* gen,
                             uint64_t size, uint64_t digest) {
  if (gen->size != size) return false;
  if (!gen->digestKnown) {
    std::string bytes;
    ObjectBytes(seed_, key, number, size, &bytes);
    gen->digest = ContentDigest(bytes);
    gen->digestKnown = true;
  }
  return gen->digest == digest;
}

uint64_t SoakChecker::generationOf(const std::string& key, uint64_t size, uint64_t digest,
                                   uint64_t version) {
  auto found = keys_.find(key);
  if (found == keys_.end()) return 0;
  Generations& generations = found->second;
  if (version != 0) {
    for (auto& [number, gen] : generations) {
      if (gen.versions.count(version) != 0)
        return holdsBytes(key, number, &gen, size, digest) ? number : 0;
    }
  }
  for (auto it = generations.rbegin(); it != generations.rend(); ++it) {
    if (version != 0 && !it->second.unanswered) continue;
    if (holdsBytes(key, it->first, &it->second, size, digest)) return it->first;
  }
  return 0;
}

SoakVerdict SoakChecker::finish() {
  SoakVerdict verdict;
  verdict.failures = problems_;
  for (const auto& [key, generations] : keys_) {
    for (const auto& [number, gen] : generations) {
      ++verdict.generations;
      if (gen.acknowledged) ++verdict.acknowledged;
      if (!gen.committedAnswers.empty()) ++verdict.committedAnswers;
    }
  }
  checkRestored(&verdict);
  checkStore(&verdict);
  for (const auto& [key, generations] : keys_) {
    for (const auto& [number, gen] : generations) {
      if (gen.acknowledged) continue;
      ++verdict.unknown;
      if (copiesOf_.count({key, number}) != 0) ++verdict.unknownStored;
    }
  }
  return verdict;
}

void SoakChecker::checkRestored(SoakVerdict* verdict) {
  verdict->restoredFiles = restored_.size();
  std::map<std::string, uint64_t> restoredGeneration;
  for (const RestoredFile& file : restored_) {
    const uint64_t gen = generationOf(file.key, file.size, file.digest);
    if (gen == 0) {
      verdict->failures.push_back("restored " + file.key + " holds bytes no client PUT under it");
    } else {
      restoredGeneration[file.key] = gen;
    }
  }
  for (const auto& [key, generations] : keys_) {
    uint64_t latestAcknowledged = 0;
    for (const auto& [number, gen] : generations)
      if (gen.acknowledged) latestAcknowledged = number;
    if (latestAcknowledged == 0) continue;
    auto found = restoredGeneration.find(key);
    if (found == restoredGeneration.end()) {
      const std::string& wanted = key;  // a structured binding cannot be captured in C++17
      if (std::none_of(restored_.begin(), restored_.end(),
                       [&](const RestoredFile& file) { return file.key == wanted; }))
        verdict->failures.push_back("acknowledged " + key + " (generation " +
                                    std::to_string(latestAcknowledged) + ") was not restored");
    } else if (found->second < latestAcknowledged) {
      verdict->failures.push_back("restored " + key + " is generation " +
                                  std::to_string(found->second) + ", older than acknowledged " +
                                  std::to_string(latestAcknowledged));
    }
  }
}

void SoakChecker::checkStore(SoakVerdict* verdict) {
  verdict->storedCopies = copies_.size();
  for (const StoredCopy& copy : copies_) {
    const uint64_t gen = generationOf(copy.key, copy.size, copy.digest, copy.version);
    if (gen == 0) {
      verdict->failures.push_back("the store holds " + copy.key + " (job " +
                                  std::to_string(copy.jobId) + ", stream " +
                                  std::to_string(copy.aFileId) + ", item " +
                                  std::to_string(copy.index) + ") with bytes no client PUT");
      continue;
    }
    copiesOf_[{copy.key, gen}].push_back(&copy);
    if (copy.version != 0 && keys_[copy.key][gen].versions.count(copy.version) == 0)
      ++verdict->storedWithoutAnswer;
  }
  checkDuplicates(verdict);
  for (const auto& [key, generations] : keys_) {
    for (const auto& [number, gen] : generations) {
      for (const PutRecord& put : gen.committedAnswers) {
        verdict->maxSampleDelayMicros =
            std::max(verdict->maxSampleDelayMicros, put.sampleMicros - put.answerMicros);
        checkCommittedAnswer(put, number, verdict);
      }
    }
  }
}

void SoakChecker::checkDuplicates(SoakVerdict* verdict) {
  // A duplicate is one version committed again. Two versions of one generation are two PUTs
  // that were both stored (an attempt whose answer was lost, then its retry), not a duplicate.
  std::map<std::tuple<std::string, uint64_t, uint64_t>, std::vector<const StoredCopy*>> versions;
  for (const auto& [name, copies] : copiesOf_) {
    for (const StoredCopy* copy : copies)
      versions[{name.first, name.second, copy->version}].push_back(copy);
  }
  for (auto& [name, copies] : versions) {
    if (copies.size() < 2) continue;
    verdict->duplicates += copies.size() - 1;
    // The copies in the order they were sent: processes follow one another, as do the jobs of
    // one process and the items of one stream.
    std::sort(copies.begin(), copies.end(), [](const StoredCopy* a, const StoredCopy* b) {
      return std::tie(a->pid, a->jobId, a->runId, a->aFileId, a->index) <
             std::tie(b->pid, b->jobId, b->runId, b->aFileId, b->index);
    });
    std::string unexplained;
    for (size_t i = 0; i + 1 < copies.size(); ++i) {
      const StoredCopy& copy = *copies[i];
      if (copy.pid != copies[i + 1]->pid) {
        ++verdict->duplicatesAfterKill;
      } else if (handedBack(copy)) {
        ++verdict->duplicatesAfterFailedSend;
      } else {
        const StoredCopy& next = *copies[i + 1];
        unexplained += " job " + std::to_string(copy.jobId) + " stream " +
                       std::to_string(copy.aFileId) + " item " + std::to_string(copy.index) +
                       ", then job " + std::to_string(next.jobId) + " stream " +
                       std::to_string(next.aFileId) + " item " + std::to_string(next.index) +
                       ", pid " + std::to_string(copy.pid) + ";";
      }
    }
    if (!unexplained.empty())
      verdict->failures.push_back(std::get<0>(name) + " generation " +
                                  std::to_string(std::get<1>(name)) + " was committed " +
                                  std::to_string(copies.size()) +
                                  " times; sent again with neither a kill nor a failed send after"
                                  " it:" +
                                  unexplained);
  }
}

bool SoakChecker::handedBack(const StoredCopy& copy) const {
  auto found = failedItems_.find(CommitSampler::StreamKey(copy.runId, copy.aFileId));
  if (found == failedItems_.end()) return false;
  return std::any_of(found->second.begin(), found->second.end(),
                     [&](uint64_t failed) { return failed > copy.index; });
}

void SoakChecker::checkCommittedAnswer(const PutRecord& put, uint64_t gen,
                                       SoakVerdict* verdict) const {
  const std::string what = put.key + " generation " + std::to_string(gen) + " answered 200 (job " +
                           std::to_string(put.job) + ", stream " + std::to_string(put.stream) + ")";
  if (put.committedAtAnswer.empty()) {
    verdict->failures.push_back(what + ": no committed count of its stream could be read");
    return;
  }
  auto found = copiesOf_.find({put.key, gen});
  if (found != copiesOf_.end()) {
    for (const StoredCopy* copy : found->second) {
      // The answer may name the stream by its place in the job or by its aFile ID. The counts
      // are those of the answer's job alone, so a copy in another job finds none.
      if (copy->streamIndex != put.stream && copy->aFileId != put.stream) continue;
      auto sampled =
          put.committedAtAnswer.find(CommitSampler::StreamKey(copy->runId, copy->aFileId));
      if (sampled != put.committedAtAnswer.end() && copy->index < sampled->second) return;
    }
  }
  verdict->failures.push_back(what + " is not among the items committed when it was answered");
}

}  // namespace objstore_load

#include "SoakChecker.h"

#include <gtest/gtest.h>

#include "ObjectContent.h"

namespace objstore_load {
namespace {

constexpr uint64_t kSeed = 11;

uint64_t SizeOf(uint64_t gen) {
  return gen * 100 % 7 == 0 ? 0 : gen * 37;
}

uint64_t DigestOf(const std::string& key, uint64_t gen) {
  std::string bytes;
  ObjectBytes(kSeed, key, gen, SizeOf(gen), &bytes);
  return ContentDigest(bytes);
}

PutRecord Put(const std::string& key, uint64_t gen, int code) {
  PutRecord put;
  put.key = key;
  put.gen = gen;
  put.size = SizeOf(gen);
  put.code = code;
  put.waitCommitted = code == 200;
  if (put.acknowledged()) put.version = gen * 10;
  put.answerMicros = 1000;
  put.sampleMicros = 1500;
  if (code == 200) {
    put.job = 3;
    put.stream = 1;
    put.committedAtAnswer = {{"run-a/1", 5}};
  }
  return put;
}

PutRecord Committed(const std::string& key, uint64_t gen, int64_t stream,
                    std::map<std::string, uint64_t> sampled) {
  PutRecord put = Put(key, gen, 200);
  put.stream = stream;
  put.committedAtAnswer = std::move(sampled);
  return put;
}

StoredCopy Copy(const std::string& key, uint64_t gen, int64_t pid, uint64_t index = 0,
                const std::string& run = "run-a", uint64_t version = 0) {
  StoredCopy copy;
  copy.key = key;
  copy.size = SizeOf(gen);
  copy.digest = DigestOf(key, gen);
  copy.jobId = 3;
  copy.runId = run;
  copy.aFileId = 1;
  copy.index = index;
  copy.pid = pid;
  copy.version = version;
  return copy;
}

RestoredFile Restored(const std::string& key, uint64_t gen) {
  return {key, SizeOf(gen), DigestOf(key, gen)};
}

struct Case {
  const char* name;
  std::vector<PutRecord> puts;
  std::vector<StoredCopy> copies;
  std::vector<RestoredFile> restored;
  const char* failure;  // a part of the one failure expected; "" when none
  std::vector<FailedItem> failedItems = {};
};

// The most common shape: one PUT of generation 1 of c0/k1 (acknowledged unless `put` says
// otherwise), the copies the store holds, and that generation restored.
Case OneGeneration(const char* name, std::vector<StoredCopy> copies, const char* failure,
                   std::vector<FailedItem> failedItems = {}, PutRecord put = Put("c0/k1", 1, 201)) {
  return {name, {put}, std::move(copies), {Restored("c0/k1", 1)}, failure, std::move(failedItems)};
}

// One copy, at `index` of its stream, of a PUT answered with `put`.
Case Answered(const char* name, PutRecord put, uint64_t index, const char* failure) {
  return OneGeneration(name, {Copy("c0/k1", 1, 10, index)}, failure, {}, std::move(put));
}

class SoakCheckerCases : public ::testing::TestWithParam<Case> {};

TEST_P(SoakCheckerCases, FindsWhatIsWrong) {
  const Case& c = GetParam();
  SoakChecker checker(kSeed);
  for (const PutRecord& put : c.puts) checker.addPut(put);
  for (const StoredCopy& copy : c.copies) checker.addStoredCopy(copy);
  for (const RestoredFile& file : c.restored) checker.addRestoredFile(file);
  for (const FailedItem& item : c.failedItems) checker.addFailedItem(item);
  const SoakVerdict verdict = checker.finish();
  if (std::string(c.failure).empty()) {
    EXPECT_TRUE(verdict.failures.empty()) << verdict.failures.front();
  } else {
    ASSERT_EQ(verdict.failures.size(), 1u) << verdict.json();
    EXPECT_NE(verdict.failures[0].find(c.failure), std::string::npos) << verdict.failures[0];
  }
}

const Case kCases[] = {
    {"latest acknowledged restored",
     {Put("c0/k1", 1, 201), Put("c0/k1", 2, 201)},
     {Copy("c0/k1", 1, 10), Copy("c0/k1", 2, 10)},
     {Restored("c0/k1", 2)},
     ""},
    {"acknowledged but not restored",
     {Put("c0/k1", 1, 201)},
     {Copy("c0/k1", 1, 10)},
     {},
     "was not restored"},
    {"older than the latest acknowledged",
     {Put("c0/k1", 1, 201), Put("c0/k1", 2, 201)},
     {Copy("c0/k1", 1, 10), Copy("c0/k1", 2, 10)},
     {Restored("c0/k1", 1)},
     "older than acknowledged 2"},
    {"a later unanswered PUT may win",
     {Put("c0/k1", 1, 201), Put("c0/k1", 2, 0)},
     {Copy("c0/k1", 1, 10), Copy("c0/k1", 2, 10)},
     {Restored("c0/k1", 2)},
     ""},
    {"an unanswered PUT may be lost", {Put("c0/k1", 1, 0), Put("c0/k1", 2, 503)}, {}, {}, ""},
    {"restored bytes of a generation never PUT",
     {Put("c0/k1", 1, 201)},
     {Copy("c0/k1", 1, 10)},
     {Restored("c0/k1", 1), Restored("c0/k2", 1)},
     "restored c0/k2 holds bytes no client PUT"},
    OneGeneration("stored bytes nobody PUT", {Copy("c0/k1", 1, 10), Copy("c0/k1", 3, 10)},
                  "with bytes no client PUT"),
    {"two generations with the same bytes are told apart by their versions",
     {Put("c0/k1", 7, 201), Put("c0/k1", 14, 201)},
     {Copy("c0/k1", 7, 10, 0, "run-a", 70), Copy("c0/k1", 14, 10, 1, "run-a", 140)},
     {Restored("c0/k1", 14)},
     ""},
    {"the latest of two generations with the same bytes counts as restored",
     {Put("c0/k1", 7, 201), Put("c0/k1", 14, 201)},
     {Copy("c0/k1", 7, 10), Copy("c0/k1", 14, 11)},
     {Restored("c0/k1", 7)},
     ""},
    {"a copy with the version of another generation's answer",
     {Put("c0/k1", 1, 201), Put("c0/k1", 2, 201)},
     {Copy("c0/k1", 2, 10, 0, "run-a", 10)},
     {Restored("c0/k1", 2)},
     "with bytes no client PUT"},
    {"a copy of an unanswered attempt of a generation acknowledged later",
     {Put("c0/k1", 1, 0), Put("c0/k1", 1, 201)},
     {Copy("c0/k1", 1, 10, 0, "run-a", 3), Copy("c0/k1", 1, 11, 0, "run-b", 10)},
     {Restored("c0/k1", 1)},
     ""},
    {"two stored attempts of one generation are no duplicate",
     {Put("c0/k1", 1, 0), Put("c0/k1", 1, 201)},
     {Copy("c0/k1", 1, 10, 0, "run-a", 3), Copy("c0/k1", 1, 10, 1, "run-a", 10)},
     {Restored("c0/k1", 1)},
     ""},
    {"one version committed twice by one process",
     {Put("c0/k1", 1, 0), Put("c0/k1", 1, 201)},
     {Copy("c0/k1", 1, 10, 0, "run-a", 10), Copy("c0/k1", 1, 10, 1, "run-a", 10)},
     {Restored("c0/k1", 1)},
     "neither a kill nor a failed send"},
    OneGeneration("a version no answer gave, on a generation every attempt of which was answered",
                  {Copy("c0/k1", 1, 10, 0, "run-a", 3)}, "with bytes no client PUT"),
    OneGeneration("a copy sent again by the next process",
                  {Copy("c0/k1", 1, 10), Copy("c0/k1", 1, 11)}, ""),
    OneGeneration(
        "a copy sent twice by one process", {Copy("c0/k1", 1, 10), Copy("c0/k1", 1, 10, 1)},
        "neither a kill nor a failed send after it: job 3 stream 1 item 0, then job 3 stream 1 "
        "item 1, pid 10;"),
    OneGeneration("a copy handed back by a failed send after it",
                  {Copy("c0/k1", 1, 10), Copy("c0/k1", 1, 10, 2)}, "", {{"run-a", 1, 1}}),
    OneGeneration("a failed send before the copy hands nothing back",
                  {Copy("c0/k1", 1, 10, 1), Copy("c0/k1", 1, 10, 2)},
                  "neither a kill nor a failed send", {{"run-a", 1, 0}}),
    OneGeneration("a failed send on another stream hands nothing back",
                  {Copy("c0/k1", 1, 10), Copy("c0/k1", 1, 10, 2)},
                  "neither a kill nor a failed send", {{"run-a", 2, 1}}),
    Answered("committed when answered", Put("c0/k1", 1, 200), 4, ""),
    Answered("answered before its commit", Put("c0/k1", 1, 200), 5,
             "not among the items committed when it was answered"),
    Answered("answered naming another stream", Committed("c0/k1", 1, 2, {{"run-a/1", 9}}), 0,
             "not among the items committed"),
    Answered("answered with a count of another run", Committed("c0/k1", 1, 1, {{"run-b/1", 9}}), 0,
             "not among the items committed"),
    Answered("answered naming the stream by its place", Committed("c0/k1", 1, 0, {{"run-a/1", 1}}),
             0, ""),
    Answered("answered with the count of another stream of the run",
             Committed("c0/k1", 1, 1, {{"run-a/2", 9}, {"run-a/1", 0}}), 0,
             "not among the items committed"),
    Answered("answered but its count was not read", Committed("c0/k1", 1, 1, {}), 0,
             "no committed count"),
};

INSTANTIATE_TEST_SUITE_P(Soak, SoakCheckerCases, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name = info.param.name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

TEST(SoakChecker, CountsGenerationsUnknownsAndDuplicates) {
  SoakChecker checker(kSeed);
  checker.addPut(Put("c0/k1", 1, 0));  // retried, then acknowledged
  checker.addPut(Put("c0/k1", 1, 201));
  checker.addPut(Put("c0/k1", 2, 0));  // stored without an answer
  checker.addPut(Put("c0/k2", 1, 0));  // lost
  checker.addPut(Put("c1/k1", 1, 200));
  checker.addStoredCopy(Copy("c0/k1", 1, 10));
  checker.addStoredCopy(Copy("c0/k1", 1, 11));
  checker.addStoredCopy(Copy("c0/k1", 2, 11));
  checker.addStoredCopy(Copy("c1/k1", 1, 11, 2));
  checker.addRestoredFile(Restored("c0/k1", 2));
  checker.addRestoredFile(Restored("c1/k1", 1));
  const SoakVerdict verdict = checker.finish();
  EXPECT_TRUE(verdict.failures.empty());
  EXPECT_EQ(verdict.generations, 4u);
  EXPECT_EQ(verdict.acknowledged, 2u);
  EXPECT_EQ(verdict.committedAnswers, 1u);
  EXPECT_EQ(verdict.unknown, 2u);
  EXPECT_EQ(verdict.unknownStored, 1u);
  EXPECT_EQ(verdict.storedCopies, 4u);
  EXPECT_EQ(verdict.storedWithoutAnswer, 0u);  // copies without versions: not told apart
  EXPECT_EQ(verdict.duplicates, 1u);
  EXPECT_EQ(verdict.duplicatesAfterKill, 1u);
  EXPECT_EQ(verdict.duplicatesAfterFailedSend, 0u);
  EXPECT_EQ(verdict.restoredFiles, 2u);
  EXPECT_EQ(verdict.maxSampleDelayMicros, 500);
}

TEST(SoakChecker, ReadingProblemsFailTheSoak) {
  SoakChecker checker(kSeed);
  checker.addProblem("stream-1.data item 3: payload checksum");
  const SoakVerdict verdict = checker.finish();
  ASSERT_EQ(verdict.failures.size(), 1u);
  EXPECT_EQ(verdict.failures[0], "stream-1.data item 3: payload checksum");
}

}  // namespace
}  // namespace objstore_load

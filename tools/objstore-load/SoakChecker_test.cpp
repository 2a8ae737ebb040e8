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

INSTANTIATE_TEST_SUITE_P(
    Soak, SoakCheckerCases,
    ::testing::Values(
        Case{"latest acknowledged restored",
             {Put("c0/k1", 1, 201), Put("c0/k1", 2, 201)},
             {Copy("c0/k1", 1, 10), Copy("c0/k1", 2, 10)},
             {Restored("c0/k1", 2)},
             ""},
        Case{"acknowledged but not restored",
             {Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10)},
             {},
             "was not restored"},
        Case{"older than the latest acknowledged",
             {Put("c0/k1", 1, 201), Put("c0/k1", 2, 201)},
             {Copy("c0/k1", 1, 10), Copy("c0/k1", 2, 10)},
             {Restored("c0/k1", 1)},
             "older than acknowledged 2"},
        Case{"a later unanswered PUT may win",
             {Put("c0/k1", 1, 201), Put("c0/k1", 2, 0)},
             {Copy("c0/k1", 1, 10), Copy("c0/k1", 2, 10)},
             {Restored("c0/k1", 2)},
             ""},
        Case{"an unanswered PUT may be lost",
             {Put("c0/k1", 1, 0), Put("c0/k1", 2, 503)},
             {},
             {},
             ""},
        Case{"restored bytes of a generation never PUT",
             {Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10)},
             {Restored("c0/k1", 1), Restored("c0/k2", 1)},
             "restored c0/k2 holds bytes no client PUT"},
        Case{"stored bytes nobody PUT",
             {Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10), Copy("c0/k1", 3, 10)},
             {Restored("c0/k1", 1)},
             "with bytes no client PUT"},
        Case{"two generations with the same bytes are told apart by their versions",
             {Put("c0/k1", 7, 201), Put("c0/k1", 14, 201)},
             {Copy("c0/k1", 7, 10, 0, "run-a", 70), Copy("c0/k1", 14, 10, 1, "run-a", 140)},
             {Restored("c0/k1", 14)},
             ""},
        Case{"the latest of two generations with the same bytes counts as restored",
             {Put("c0/k1", 7, 201), Put("c0/k1", 14, 201)},
             {Copy("c0/k1", 7, 10), Copy("c0/k1", 14, 11)},
             {Restored("c0/k1", 7)},
             ""},
        Case{"a copy with the version of another generation's answer",
             {Put("c0/k1", 1, 201), Put("c0/k1", 2, 201)},
             {Copy("c0/k1", 2, 10, 0, "run-a", 10)},
             {Restored("c0/k1", 2)},
             "with bytes no client PUT"},
        Case{"a copy of an unanswered attempt of a generation acknowledged later",
             {Put("c0/k1", 1, 0), Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10, 0, "run-a", 3), Copy("c0/k1", 1, 11, 0, "run-b", 10)},
             {Restored("c0/k1", 1)},
             ""},
        Case{"two stored attempts of one generation are no duplicate",
             {Put("c0/k1", 1, 0), Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10, 0, "run-a", 3), Copy("c0/k1", 1, 10, 1, "run-a", 10)},
             {Restored("c0/k1", 1)},
             ""},
        Case{"one version committed twice by one process",
             {Put("c0/k1", 1, 0), Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10, 0, "run-a", 10), Copy("c0/k1", 1, 10, 1, "run-a", 10)},
             {Restored("c0/k1", 1)},
             "neither a kill nor a failed send"},
        Case{"a version no answer gave, on a generation every attempt of which was answered",
             {Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10, 0, "run-a", 3)},
             {Restored("c0/k1", 1)},
             "with bytes no client PUT"},
        Case{"a copy sent again by the next process",
             {Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10), Copy("c0/k1", 1, 11)},
             {Restored("c0/k1", 1)},
             ""},
        Case{
            "a copy sent twice by one process",
            {Put("c0/k1", 1, 201)},
            {Copy("c0/k1", 1, 10), Copy("c0/k1", 1, 10, 1)},
            {Restored("c0/k1", 1)},
            "neither a kill nor a failed send after it: job 3 stream 1 item 0, then job 3 stream 1 "
            "item 1, pid 10;"},
        Case{"a copy handed back by a failed send after it",
             {Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10), Copy("c0/k1", 1, 10, 2)},
             {Restored("c0/k1", 1)},
             "",
             {{"run-a", 1, 1}}},
        Case{"a failed send before the copy hands nothing back",
             {Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10, 1), Copy("c0/k1", 1, 10, 2)},
             {Restored("c0/k1", 1)},
             "neither a kill nor a failed send",
             {{"run-a", 1, 0}}},
        Case{"a failed send on another stream hands nothing back",
             {Put("c0/k1", 1, 201)},
             {Copy("c0/k1", 1, 10), Copy("c0/k1", 1, 10, 2)},
             {Restored("c0/k1", 1)},
             "neither a kill nor a failed send",
             {{"run-a", 2, 1}}},
        Case{"committed when answered",
             {Put("c0/k1", 1, 200)},
             {Copy("c0/k1", 1, 10, 4)},
             {Restored("c0/k1", 1)},
             ""},
        Case{"answered before its commit",
             {Put("c0/k1", 1, 200)},
             {Copy("c0/k1", 1, 10, 5)},
             {Restored("c0/k1", 1)},
             "not among the items committed when it was answered"},
        Case{"answered naming another stream",
             {Committed("c0/k1", 1, 2, {{"run-a/1", 9}})},
             {Copy("c0/k1", 1, 10, 0)},
             {Restored("c0/k1", 1)},
             "not among the items committed"},
        Case{"answered with a count of another run",
             {Committed("c0/k1", 1, 1, {{"run-b/1", 9}})},
             {Copy("c0/k1", 1, 10, 0)},
             {Restored("c0/k1", 1)},
             "not among the items committed"},
        Case{"answered naming the stream by its place",
             {Committed("c0/k1", 1, 0, {{"run-a/1", 1}})},
             {Copy("c0/k1", 1, 10, 0)},
             {Restored("c0/k1", 1)},
             ""},
        Case{"answered with the count of another stream of the run",
             {Committed("c0/k1", 1, 1, {{"run-a/2", 9}, {"run-a/1", 0}})},
             {Copy("c0/k1", 1, 10, 0)},
             {Restored("c0/k1", 1)},
             "not among the items committed"},
        Case{"answered but its count was not read",
             {Committed("c0/k1", 1, 1, {})},
             {Copy("c0/k1", 1, 10, 0)},
             {Restored("c0/k1", 1)},
             "no committed count"}),
    [](const ::testing::TestParamInfo<Case>& info) {
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

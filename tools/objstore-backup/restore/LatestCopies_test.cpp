#include "LatestCopies.h"

#include <gtest/gtest.h>

#include <vector>

namespace objstore_host {
namespace {

struct Offer {
  uint64_t version;
  int64_t jobId;
  uint64_t record;  // item number; offers come in store order
};

struct Choice {
  const char* name;
  std::vector<Offer> offers;
  size_t chosen;  // index into offers
};

class LatestCopiesTest : public testing::TestWithParam<Choice> {};

TEST_P(LatestCopiesTest, ChoosesOneCopyPerPath) {
  LatestCopies latest;
  const std::vector<Offer>& offers = GetParam().offers;
  for (const Offer& offer : offers) {
    latest.offer("a/b", offer.version, offer.jobId, CopyPlace("stream-1.data", offer.record));
  }
  EXPECT_EQ(1u, latest.paths());
  EXPECT_EQ(offers.size(), latest.offered());
  for (size_t i = 0; i < offers.size(); ++i) {
    EXPECT_EQ(i == GetParam().chosen,
              latest.isChosen("a/b", CopyPlace("stream-1.data", offers[i].record)))
        << "offer " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LatestCopiesTest,
    testing::Values(
        Choice{"OnlyCopy", {{0, 1, 0}}, 0},
        Choice{"HigherVersionOfEarlierJob", {{2, 1, 0}, {1, 9, 1}}, 0},
        Choice{"HigherVersionOfLaterJob", {{1, 9, 0}, {2, 1, 1}}, 1},
        Choice{"SameVersionLaterJobOfferedFirst", {{3, 9, 0}, {3, 2, 1}}, 0},
        Choice{"SameVersionLaterJobOfferedLast", {{3, 2, 0}, {3, 9, 1}}, 1},
        Choice{"SameJobLaterRecord", {{0, 4, 0}, {0, 4, 1}, {0, 4, 2}}, 2},
        Choice{"UnversionedLosesToAnyVersion", {{1, 1, 0}, {0, 8, 1}}, 0},
        Choice{"VersionThenJobThenRecord", {{5, 1, 0}, {5, 3, 1}, {5, 3, 2}, {4, 9, 3}}, 2}),
    [](const testing::TestParamInfo<Choice>& info) { return info.param.name; });

TEST(LatestCopiesTest, PathsAreChosenApart) {
  LatestCopies latest;
  latest.offer("a", 1, 1, CopyPlace("f", 0));
  latest.offer("b", 0, 1, CopyPlace("f", 1));
  EXPECT_EQ(2u, latest.paths());
  EXPECT_TRUE(latest.isChosen("a", CopyPlace("f", 0)));
  EXPECT_TRUE(latest.isChosen("b", CopyPlace("f", 1)));
  EXPECT_FALSE(latest.isChosen("a", CopyPlace("f", 1)));
  EXPECT_FALSE(latest.isChosen("c", CopyPlace("f", 0)));
}

}  // namespace
}  // namespace objstore_host

#include "Catalog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace objstore_host {
namespace {

CatalogRow Row(const std::string& key, uint64_t version) {
  CatalogRow row;
  row.key = key;
  row.version = version;
  row.id = "id-" + std::to_string(version);
  row.size = version * 10;
  row.putTime = 1000 + static_cast<double>(version);
  return row;
}

TEST(CatalogTest, SurvivesReopenAndNeverHandsOutAJobIdTwice) {
  objstore_testing::TempDir dir;
  const std::string path = dir.sub("catalog.sqlite");
  {
    Catalog catalog;
    std::string error;
    ASSERT_TRUE(catalog.open(path, &error)) << error;
    catalog.insert(Row("a", 1));
    catalog.insert(Row("a", 2));
    catalog.markInJob("id-2", 7, 1);
    ASSERT_TRUE(catalog.wait(catalog.markCommitted("id-2", 5000)));
    EXPECT_EQ(1, catalog.takeJobId(1));
    EXPECT_EQ(2, catalog.takeJobId(1));
  }
  Catalog catalog;
  std::string error;
  ASSERT_TRUE(catalog.open(path, &error)) << error;
  CatalogRow latest;
  ASSERT_TRUE(catalog.latest("a", &latest));
  EXPECT_EQ(2u, latest.version);
  EXPECT_EQ(ObjectState::kCommitted, latest.state);
  EXPECT_EQ(7, latest.job);
  EXPECT_EQ(5000, latest.committedTime);
  EXPECT_EQ(2u, catalog.maxVersion());
  // After the reopen the ids go on; a floor above them (the store's jobs) moves them up.
  EXPECT_EQ(3, catalog.takeJobId(1));
  EXPECT_EQ(10, catalog.takeJobId(10));
  EXPECT_EQ(11, catalog.takeJobId(4));
  EXPECT_FALSE(catalog.latest("b", &latest));
}

TEST(CatalogTest, ACommittedVersionStaysCommittedWhateverArrivesLate) {
  objstore_testing::TempDir dir;
  Catalog catalog;
  std::string error;
  ASSERT_TRUE(catalog.open(dir.sub("catalog.sqlite"), &error)) << error;
  catalog.insert(Row("k", 1));
  catalog.markCommitted("id-1", 42);
  // A send's record or a hand-back that reaches the writer after the commit.
  catalog.markInJob("id-1", 9, 0);
  catalog.markHandedBack("id-1", "late");
  ASSERT_TRUE(catalog.wait(catalog.markLost("id-1")));
  CatalogRow row;
  ASSERT_TRUE(catalog.byId("id-1", &row));
  EXPECT_EQ(ObjectState::kCommitted, row.state);
  EXPECT_EQ(0u, row.handBacks);
}

TEST(CatalogTest, CountsHandBacksAndListsOnlyVersionsStillWaiting) {
  objstore_testing::TempDir dir;
  Catalog catalog;
  std::string error;
  ASSERT_TRUE(catalog.open(dir.sub("catalog.sqlite"), &error)) << error;
  for (uint64_t version = 1; version <= 4; ++version)
    catalog.insert(Row("k" + std::to_string(version), version));
  catalog.markHandedBack("id-1", "first");
  catalog.markHandedBack("id-1", "second");
  catalog.markCommitted("id-2", 1);
  catalog.markLost("id-3");
  ASSERT_TRUE(catalog.wait(catalog.markInJob("id-4", 3, 1)));
  CatalogRow row;
  ASSERT_TRUE(catalog.byId("id-1", &row));
  EXPECT_EQ(ObjectState::kHandedBack, row.state);
  EXPECT_EQ(2u, row.handBacks);
  EXPECT_EQ("second", row.reason);
  std::vector<uint64_t> waiting;
  catalog.forEachWaiting([&waiting](const CatalogRow& r) { waiting.push_back(r.version); });
  EXPECT_EQ((std::vector<uint64_t>{1, 4}), waiting);
  // Many changes share few transactions.
  for (int i = 0; i < 2000; ++i) catalog.markInJob("id-4", 3, i % 2);
  ASSERT_TRUE(catalog.wait(catalog.markInJob("id-4", 3, 1)));
  EXPECT_LT(catalog.transactions(), 1000u);
}

}  // namespace
}  // namespace objstore_host

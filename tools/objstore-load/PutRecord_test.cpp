#include "PutRecord.h"

#include <gtest/gtest.h>

namespace objstore_load {
namespace {

PutRecord Full() {
  PutRecord r;
  r.client = 3;
  r.key = "c3/k17";
  r.gen = 9;
  r.size = 1048576;
  r.waitCommitted = true;
  r.code = 200;
  r.sendMicros = 1700000000000001;
  r.answerMicros = 1700000000000999;
  r.version = 12;
  r.id = "0a1b2c";
  r.job = 5;
  r.stream = 2;
  r.committedAtAnswer = {{"r1", 40}, {"r2", 0}};
  r.sampleMicros = 1700000000001010;
  return r;
}

TEST(PutRecord, LinesReadBackAsWritten) {
  const PutRecord r = Full();
  PutRecord back;
  ASSERT_TRUE(ParsePutRecord(FormatPutRecord(r), &back));
  EXPECT_EQ(FormatPutRecord(back), FormatPutRecord(r));
  EXPECT_EQ(back.committedAtAnswer, r.committedAtAnswer);
  EXPECT_EQ(back.latencyMicros(), 998);
  EXPECT_TRUE(back.acknowledged());

  PutRecord lost;
  lost.key = "c0/k0";
  lost.gen = 1;
  lost.error = "Connection\tfailed\nagain";
  ASSERT_TRUE(ParsePutRecord(FormatPutRecord(lost), &back));
  EXPECT_EQ(back.error, "Connection failed again");
  EXPECT_TRUE(back.committedAtAnswer.empty());
  EXPECT_TRUE(back.unknown());
  EXPECT_FALSE(back.acknowledged());
}

TEST(PutRecord, OtherTextIsRefused) {
  const std::string good = FormatPutRecord(Full());
  PutRecord r;
  for (const std::string& line :
       {std::string(), good + "\textra", good.substr(0, good.rfind('\t')), std::string("x") + good,
        "3\t\t9" + good.substr(good.find("\t9") + 2)}) {
    EXPECT_FALSE(ParsePutRecord(line, &r)) << line;
  }
  std::string badSample = good;
  badSample.replace(badSample.find("r1:40"), 5, "r1:x");
  EXPECT_FALSE(ParsePutRecord(badSample, &r));
}

TEST(PutRecord, OnlyCreatedAndCommittedAreAcknowledged) {
  const struct {
    int code;
    bool acknowledged, unknown;
  } cases[] = {{0, false, true},    {200, true, false}, {201, true, false},
               {400, false, false}, {503, false, true}, {507, false, true}};
  for (const auto& c : cases) {
    PutRecord r;
    r.code = c.code;
    EXPECT_EQ(r.acknowledged(), c.acknowledged) << c.code;
    EXPECT_EQ(r.unknown(), c.unknown) << c.code;
  }
}

}  // namespace
}  // namespace objstore_load

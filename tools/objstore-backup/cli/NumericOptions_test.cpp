// Numbers on the command line are read as decimals, exactly, within their range.
#include "NumericOptions.h"

#include <gtest/gtest.h>

namespace objstore_host {
namespace {

TEST(NumericOptionsTest, ReadsWholeDecimalsWithinTheRangeOnly) {
  const struct {
    const char* text;
    bool valid;
    int64_t value;
  } cases[] = {
      {"0", true, 0},
      {"010", true, 10},  // a leading zero does not make it octal
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"99999999999999999999", false, 0},
      {"-9223372036854775809", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"+1", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"0x10", false, 0},
      {"1e3", false, 0},
      {"2.5", false, 0},
  };
  for (const auto& c : cases) {
    int64_t value = 77;
    EXPECT_EQ(c.valid, ReadDecimal(c.text, INT64_MIN, INT64_MAX, &value)) << c.text;
    EXPECT_EQ(c.valid ? c.value : 77, value) << c.text;
  }
  uint64_t unsignedValue = 0;
  EXPECT_TRUE(ReadDecimal("18446744073709551615", uint64_t{0}, UINT64_MAX, &unsignedValue));
  EXPECT_EQ(UINT64_MAX, unsignedValue);
  EXPECT_FALSE(ReadDecimal("18446744073709551616", uint64_t{0}, UINT64_MAX, &unsignedValue));
  EXPECT_FALSE(ReadDecimal("-1", uint64_t{0}, UINT64_MAX, &unsignedValue));
  int64_t ranged = 0;
  EXPECT_FALSE(ReadDecimal("65", int64_t{1}, int64_t{64}, &ranged));
  EXPECT_FALSE(ReadDecimal("-1", int64_t{0}, int64_t{64}, &ranged));
}

TEST(NumericOptionsTest, OptionStoresTheValueAndNamesTheRangeOnFailure) {
  CLI::App app;
  int64_t job = 1;
  uint64_t size = 0;
  AddIntegerOption(&app, "--job", &job, int64_t{0}, INT64_MAX, "job");
  AddSizeOption(&app, "--size", &size, 1, 4 << 20, "size");
  app.parse(std::vector<std::string>{"2MiB", "--size", "010", "--job"});  // CLI11 reads backwards
  EXPECT_EQ(10, job);
  EXPECT_EQ(uint64_t{2} << 20, size);
  try {
    app.parse(std::vector<std::string>{"99999999999999999999", "--job"});
    FAIL() << "overflow accepted";
  } catch (const CLI::ValidationError& e) {
    EXPECT_EQ(std::string("--job: [99999999999999999999] is not a whole number from 0 to "
                          "9223372036854775807"),
              e.what());
  }
}

}  // namespace
}  // namespace objstore_host

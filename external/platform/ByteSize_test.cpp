#include "ByteSize.h"

#include <gtest/gtest.h>

namespace {

TEST(ByteSizeTest, ParsesDecimalSizesWithBinaryUnits) {
  struct Case {
    const char* text;
    bool valid;
    uint64_t bytes;
  } cases[] = {{"0", true, 0},
               {"4096", true, 4096},
               {"3KiB", true, 3072},
               {"2MiB", true, 2 << 20},
               {"1GiB", true, 1 << 30},
               {"", false, 0},
               {"KiB", false, 0},
               {"-1", false, 0},
               {"1kb", false, 0},
               {"1 MiB", false, 0},
               {"18446744073709551615", false, 0},
               {"17179869184GiB", false, 0}};
  for (const Case& c : cases) {
    uint64_t bytes = 77;
    EXPECT_EQ(c.valid, ParseByteSize(c.text, &bytes)) << c.text;
    if (c.valid) {
      EXPECT_EQ(c.bytes, bytes) << c.text;
    }
  }
}

}  // namespace

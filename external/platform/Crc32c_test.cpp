#include "Crc32c.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using ExtendFunction = uint32_t (*)(uint32_t, const void*, size_t);

std::vector<ExtendFunction> Implementations() {
  std::vector<ExtendFunction> found = {&Crc32cExtendPortable, &Crc32cExtend};
  if (Crc32cHardwareAvailable()) found.push_back(&Crc32cExtendHardware);
  return found;
}

// Published CRC-32C check values (RFC 3720 and the common "123456789" check).
TEST(Crc32cTest, KnownValues) {
  struct Case {
    std::string data;
    uint32_t crc;
  } cases[] = {
      {"", 0x00000000u},
      {"123456789", 0xE3069283u},
      {std::string(32, '\0'), 0x8A9136AAu},
      {std::string(32, '\xFF'), 0x62A8AB43u},
  };
  for (ExtendFunction extend : Implementations())
    for (const Case& c : cases) EXPECT_EQ(c.crc, extend(0, c.data.data(), c.data.size()));
}

// The hardware path works in 8-byte words: odd lengths and unaligned starts must agree with
// the table, and extending in pieces must equal one pass.
TEST(Crc32cTest, ImplementationsAgreeOnAnyLengthAndAlignment) {
  std::mt19937 random(7);
  std::vector<char> bytes(4096 + 16);
  for (char& byte : bytes) byte = static_cast<char>(random());
  for (ExtendFunction extend : Implementations()) {
    for (size_t start = 0; start < 9; ++start) {
      for (size_t size : {0, 1, 7, 8, 9, 63, 4096}) {
        const char* data = bytes.data() + start;
        uint32_t whole = Crc32cExtendPortable(0, data, size);
        EXPECT_EQ(whole, extend(0, data, size)) << start << "+" << size;
        size_t cut = size / 3;
        EXPECT_EQ(whole, extend(extend(0, data, cut), data + cut, size - cut));
      }
    }
  }
}

}  // namespace

// The checksum that picks an item's stream, and the reading of the header it is taken from.
#include <gtest/gtest.h>

#include <cstring>

#include "FastChecksum.h"
#include "ItemHeader.h"
#include "StreamSpread.h"
#include "TestSupport.h"

namespace ObjectStore {
namespace {

TEST(FastChecksum, Table) {
  struct Case {
    std::string text;
    int expected;
  } cases[] = {
      {"", 0},
      {"abc", 97},
      {std::string(32, 'z'), 'z'},                     // up to 32 characters: the first alone
      {std::string(33, 'A'), 325},                     // first plus the last four
      {"\xFD", -3},                                    // above 0x7F counts negative
      {std::string(32, 'a') + "\x80", 'a' * 4 - 128},  // 33 characters, last one negative
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, fastChecksum(c.text)) << c.text.size();
}

// A header section's bytes with `filename` written at byte 132, `size` bytes in all.
std::vector<char> HeaderData(const std::string& filename, size_t size = 256) {
  std::vector<char> data(size, '\0');
  memcpy(data.data() + 132, filename.data(), std::min(filename.size(), size - 132));
  return data;
}

const std::string kFirstId(40, 'g');

TEST(ReadStreamKey, AcceptsWellFormedHeaders) {
  struct Case {
    std::string filename;
    std::string key;
  } cases[] = {
      {kFirstId + "," + std::string(40, 'k'), std::string(40, 'k')},
      {kFirstId + ",short", "short"},
      {kFirstId + ",", ""},  // an empty identifier is valid (checksum 0)
      {kFirstId + "," + std::string(50, 'x'), std::string(40, 'x')},  // at most 40 characters
  };
  for (const Case& c : cases) {
    const std::vector<char> data = HeaderData(c.filename);  // the key points into it
    std::string_view key = "unset";
    EXPECT_TRUE(ReadStreamKey(data, &key)) << c.filename;
    EXPECT_EQ(c.key, key);
  }
}

TEST(ReadStreamKey, RefusesUnreadableHeaders) {
  std::vector<char> noNul(213, 'x');
  noNul[172] = ',';
  std::vector<char> endsBeforeComma = HeaderData("abc");
  endsBeforeComma[172] = ',';  // a comma beyond the end of the text
  const std::vector<char> cases[] = {
      HeaderData(kFirstId + ",key", 172),        // too short to hold the comma
      HeaderData(std::string(41, 'g') + "key"),  // no comma at byte 172
      noNul,                                     // no NUL within the data
      endsBeforeComma,
      std::vector<char>(),
  };
  for (const std::vector<char>& data : cases) {
    std::string_view key = "unset";
    EXPECT_FALSE(ReadStreamKey(data, &key)) << data.size();
    EXPECT_EQ("unset", key);
  }
}

TEST(HeaderFilenameText, StopsAtNulOrEndOfData) {
  EXPECT_EQ("abc", HeaderFilenameText(HeaderData("abc")));
  EXPECT_EQ("", HeaderFilenameText(std::vector<char>(100, 'x')));
  EXPECT_EQ(std::string(10, 'x'), HeaderFilenameText(std::vector<char>(142, 'x')));
}

// The warning at the end of a job: several streams, enough items, and all of them on one stream.
TEST(WarnIfOneStreamTookAll, Table) {
  struct Case {
    std::vector<uint64_t> itemsPerStream;
    bool warns;
  } cases[] = {
      {{0, 16, 0}, true}, {{1000, 0}, true},  {{0, 15, 0}, false},  // too few to tell from chance
      {{16}, false},                                                // one stream only
      {{8, 8, 0}, false}, {{0, 0, 0}, false}, {{}, false},
  };
  for (const Case& c : cases) {
    objstore_testing::ScopedLogCapture capture(5);
    EXPECT_EQ(c.warns, WarnIfOneStreamTookAll(7, c.itemsPerStream)) << c.itemsPerStream.size();
    EXPECT_EQ(c.warns ? 1u : 0u,
              capture.log().countContaining("32 characters or fewer is judged by its first", -1));
  }
}

}  // namespace
}  // namespace ObjectStore

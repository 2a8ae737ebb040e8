#include "KeyRules.h"

#include <gtest/gtest.h>

#include <string>

namespace objstore_host {
namespace {

struct KeyCase {
  std::string key;
  bool accepted;
  const char* reasonPart;  // a word the reason must hold when refused
};

TEST(KeyRulesTest, AcceptsSafeUtf8PathsAndRefusesTheRestWithTheReason) {
  const KeyCase cases[] = {
      {"a", true, ""},
      {"dir/sub/file.txt", true, ""},
      {"caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80", true, ""},
      {"...", true, ""},
      {".hidden/x", true, ""},
      {std::string(kMaxKeyBytes, 'k'), true, ""},
      {"", false, "empty"},
      {std::string(kMaxKeyBytes + 1, 'k'), false, "longer"},
      {"/abs", false, "'/'"},
      {"a/../b", false, "segment"},
      {"..", false, "segment"},
      {"a/./b", false, "segment"},
      {".", false, "segment"},
      {"a//b", false, "segment"},
      {"a/", false, "segment"},
      {std::string("a\0b", 3), false, "NUL"},
      {"\xC3", false, "UTF-8"},              // cut short
      {"\xC0\xAF", false, "UTF-8"},          // overlong '/'
      {"\xE0\x80\xAF", false, "UTF-8"},      // overlong, three bytes
      {"\xED\xA0\x80", false, "UTF-8"},      // a surrogate
      {"\xF4\x90\x80\x80", false, "UTF-8"},  // past U+10FFFF
      {"\xFF", false, "UTF-8"},
      {"a\x80", false, "UTF-8"},  // a continuation byte alone
  };
  for (const KeyCase& c : cases) {
    std::string reason;
    EXPECT_EQ(c.accepted, CheckObjectKey(c.key, &reason)) << "key [" << c.key << "]";
    if (!c.accepted) {
      EXPECT_NE(std::string::npos, reason.find(c.reasonPart))
          << "key [" << c.key << "]: " << reason;
    }
  }
}

}  // namespace
}  // namespace objstore_host

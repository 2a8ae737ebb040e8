#include <gtest/gtest.h>

#include <vector>

#include "ObjectStoreStatic.h"
#include "TestSupport.h"

using ObjectStore::ObjectStoreStatic;

namespace {

TEST(PathStringsTest, SplittingTable) {
  // clang-format off
  const std::string cases[][5] = {
      // path    BaseName  BaseName(buffer)  DirName  GetParent
      {"a/b/c",  "c",      "c",              "a/b",   "a/b"},
      {"abc",    "abc",    "",               "",      "abc"},
      {"/abc",   "abc",    "abc",            "",      ""},
      {"a/b/",   "",       "",               "a/b",   "a/b"},
      {"a//b",   "b",      "b",              "a/",    "a/"},
      {"/",      "",       "",               "",      ""},
      {"",       "",       "",               "",      ""}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE("path [" + c[0] + "]");
    std::vector<char> buffer(c[0].size() + 1, 'x');
    std::string parent;
    ObjectStoreStatic::GetParent(c[0], parent);
    EXPECT_EQ(ObjectStoreStatic::BaseName(c[0]), c[1]);
    EXPECT_EQ(ObjectStoreStatic::DirName(c[0]), c[3]);
    EXPECT_EQ(parent, c[4]);
    ObjectStoreStatic::BaseName(c[0], buffer.data());
    EXPECT_STREQ(buffer.data(), c[2].c_str());
    ObjectStoreStatic::DirName(c[0], buffer.data());
    EXPECT_STREQ(buffer.data(), c[3].c_str());
  }
  std::string p = "/a/b";
  for (const char* expected : {"/a", "", ""}) {
    ObjectStoreStatic::DirName(p, p);  // in place, as the directory climbs use it
    EXPECT_EQ(p, expected);
  }
}

TEST(PathStringsTest, StripFrontTable) {
  // clang-format off
  const char* const cases[][3] = {
      {"/mnt/x/data", "/mnt/x", "/data"}, {"/mnt/x",      "/mnt/x", "/"},
      {"/mnt/x/.",    "/mnt/x", "/"},     {"/mnt/x/..",   "/mnt/x", "/"},
      {"/mnt/xy",     "/mnt/x", "y"},     {"/other",      "/mnt/x", "/other"},
      {"abc",         "",       "abc"},   {"",            "",       "/"},
      {"/mnt/x/../y", "/mnt/x", "/../y"}, {"/mnt",        "/mnt/x", "/mnt"}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(ObjectStoreStatic::StripFront(c[0], c[1]), c[2]) << c[0];
}

TEST(PathStringsTest, TokenizeTable) {
  typedef std::list<std::string> Tokens;
  // clang-format off
  const struct {
    std::string s;
    Tokens withoutFlag, withFlag;
  } cases[] = {
      {"a,b,c", {"a", "b", "c"},  {"a", "b", "c"}},
      {",a",    {"a"},            {"", "a"}},
      {"a,,b",  {"a", "", "b"},   {"a", "", "b"}},
      {"a,",    {"a"},            {"a"}},
      {",",     {},               {""}},
      {"",      {},               {}}};
  // clang-format on
  for (const auto& c : cases) {
    Tokens plain = {"kept"}, flagged, expected = c.withoutFlag;
    expected.push_front("kept");  // appended to, never cleared
    ObjectStoreStatic::Tokenize(c.s, ',', plain, false);
    ObjectStoreStatic::Tokenize(c.s, ',', flagged, true);
    EXPECT_EQ(plain, expected) << c.s;
    EXPECT_EQ(flagged, c.withFlag) << c.s;
  }
}

TEST(PathStringsTest, RemoveDuplicatesTrimAndUpper) {
  for (auto c : {std::make_pair("a//b///c", "a/b/c"), {"//x//", "/x/"}, {"", ""}}) {
    std::string s = c.first;
    ObjectStoreStatic::RemoveDuplicates(s, '/');
    EXPECT_EQ(s, c.second);
  }
  std::string nuls("\0\0a\0\0b", 6);
  ObjectStoreStatic::RemoveDuplicates(nuls, '\0');
  EXPECT_EQ(nuls, std::string("a\0b", 3));
  EXPECT_EQ(ObjectStoreStatic::Trim(" \ta b\r\n"), "a b");
  EXPECT_EQ(ObjectStoreStatic::Trim(" \t\r\n"), "");
  EXPECT_EQ(ObjectStoreStatic::Trim("\va\f"), "\va\f");
  std::string text = "abc-Xy\xe9";
  ObjectStoreStatic::StrToUpper(text, text);
  EXPECT_EQ(text, "ABC-XY\xe9");
}

TEST(PathStringsTest, MoreChildrenThanThisCountsDotEntries) {
  objstore_testing::TempDir dir;
  EXPECT_FALSE(ObjectStoreStatic::MoreChildrenThanThis(dir.sub("missing"), 0));
  EXPECT_TRUE(ObjectStoreStatic::MoreChildrenThanThis(dir.path(), 1));
  EXPECT_FALSE(ObjectStoreStatic::MoreChildrenThanThis(dir.path(), 2));
  EXPECT_TRUE(ObjectStoreStatic::MoreChildrenThanThis(dir.path(), INT32_MIN));
}

}  // namespace

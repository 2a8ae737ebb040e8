#include "ObjectContent.h"

#include <gtest/gtest.h>

#include <set>

namespace objstore_load {
namespace {

TEST(ObjectContent, BytesFollowFromSeedKeyAndGenerationAlone) {
  std::string a, b;
  ObjectBytes(7, "c1/k2", 3, 5000, &a);
  ObjectBytes(7, "c1/k2", 3, 5000, &b);
  EXPECT_EQ(a, b);
  const std::string base = a;
  ObjectBytes(7, "c1/k2", 4, 5000, &b);
  EXPECT_NE(base, b);
  ObjectBytes(7, "c1/k3", 3, 5000, &b);
  EXPECT_NE(base, b);
  ObjectBytes(8, "c1/k2", 3, 5000, &b);
  EXPECT_NE(base, b);
  // A shorter object is a prefix of the longer one, whatever the tail's length.
  ObjectBytes(7, "c1/k2", 3, 13, &b);
  EXPECT_EQ(base.substr(0, 13), b);
}

TEST(ObjectContent, FixedSizeWinsAndTheMixStaysBounded) {
  SizeMix fixed;
  fixed.fixedSize = 4096;
  EXPECT_EQ(ObjectSize(1, "k", 1, fixed), 4096u);
  SizeMix mix;
  std::set<uint64_t> sizes;
  int empty = 0, small = 0, large = 0;
  for (uint64_t gen = 1; gen <= 20000; ++gen) {
    const uint64_t size = ObjectSize(1, "k", gen, mix);
    ASSERT_LE(size, mix.maxSize);
    empty += size == 0;
    small += size > 0 && size <= 4096;
    large += size > 65536;
    sizes.insert(size);
  }
  EXPECT_GT(empty, 0);
  EXPECT_GT(small, 20000 / 2);  // mostly small
  EXPECT_GT(large, 0);
  EXPECT_LT(large, 20000 / 10);
  EXPECT_GT(sizes.size(), 1000u);
  mix.maxSize = 100;
  for (uint64_t gen = 1; gen <= 2000; ++gen) ASSERT_LE(ObjectSize(1, "k", gen, mix), 100u);
}

TEST(ObjectContent, DigestTellsLengthAndEveryByte) {
  std::string bytes;
  ObjectBytes(1, "k", 1, 1000, &bytes);
  const uint64_t digest = ContentDigest(bytes);
  for (size_t at : {size_t{0}, size_t{7}, size_t{8}, size_t{996}, size_t{999}}) {
    std::string changed = bytes;
    changed[at] ^= 1;
    EXPECT_NE(ContentDigest(changed), digest) << at;
  }
  EXPECT_NE(ContentDigest(bytes + std::string(1, '\0')), digest);
  EXPECT_NE(ContentDigest(std::string()), ContentDigest(std::string(8, '\0')));
}

}  // namespace
}  // namespace objstore_load

#include "SegmentFormat.h"
#include "SectionTypes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ObjectStore {
namespace {

std::vector<char> EncodeSegment(const std::vector<SectionV>& sections) {
  std::vector<char> file = EncodeSegmentHead(sections);
  for (const SectionV& section : sections)
    file.insert(file.end(), section.data.begin(), section.data.end());
  return file;
}

std::vector<SectionV> SampleSections() {
  std::vector<SectionV> sections(3);
  sections[0].type = kSectionStreamHeader;
  sections[0].data.assign(40, 'h');
  sections[1].type = kSectionMetaData;
  sections[1].metaDataType = 9;
  sections[1].data.assign(5, 'm');
  sections[2].type = kSectionFileData;
  sections[2].offset = 4096;
  sections[2].data.assign(17, 'd');
  return sections;
}

// Every damaged form of a file must be refused, and the decoder must stay inside the buffer
// (run under AddressSanitizer, a stray read fails the test).
TEST(SegmentFormatTest, EveryTruncationIsRefused) {
  std::vector<char> file = EncodeSegment(SampleSections());
  for (size_t size = 0; size < file.size(); ++size) {
    std::vector<char> cut(file.begin(), file.begin() + size);
    std::vector<SectionV> sections;
    std::string problem;
    EXPECT_FALSE(DecodeSegment(cut.data(), cut.size(), &sections, &problem)) << size;
    EXPECT_TRUE(sections.empty());
    EXPECT_FALSE(problem.empty());
  }
}

TEST(SegmentFormatTest, EveryFlippedBitIsRefused) {
  const std::vector<char> file = EncodeSegment(SampleSections());
  for (size_t at = 0; at < file.size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      std::vector<char> damaged = file;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
      std::vector<SectionV> sections;
      std::string problem;
      EXPECT_FALSE(DecodeSegment(damaged.data(), damaged.size(), &sections, &problem))
          << "byte " << at << " bit " << bit;
      EXPECT_TRUE(sections.empty());
    }
  }
}

TEST(SegmentFormatTest, DecodeAppendsToExistingSections) {
  std::vector<char> file = EncodeSegment(SampleSections());
  std::vector<SectionV> sections(1);
  std::string problem;
  ASSERT_TRUE(DecodeSegment(file.data(), file.size(), &sections, &problem)) << problem;
  ASSERT_EQ(4u, sections.size());
  EXPECT_EQ(std::vector<char>(17, 'd'), sections[3].data);
}

}  // namespace
}  // namespace ObjectStore

#include "ObjectBody.h"

#include <algorithm>
#include <utility>

#include "SectionTypes.h"

namespace objstore_host {

ObjectBody::ObjectBody(uint64_t maxBytes, uint64_t extentBytes)
    : maxBytes_(maxBytes), extentBytes_(std::max<uint64_t>(extentBytes, 1)) {}

bool ObjectBody::append(const char* data, size_t size) {
  if (size > maxBytes_ - size_) return false;
  while (size > 0) {
    if (sections_.empty() || sections_.back().data.size() == extentBytes_) {
      ObjectStore::SectionV section;
      section.type = ObjectStore::kSectionFileData;
      section.offset = size_;
      sections_.push_back(std::move(section));
    }
    std::vector<char>& extent = sections_.back().data;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(size, extentBytes_ - extent.size()));
    extent.insert(extent.end(), data, data + take);
    data += take;
    size -= take;
    size_ += take;
  }
  return true;
}

std::vector<ObjectStore::SectionV> ObjectBody::takeSections() {
  std::vector<ObjectStore::SectionV> sections;
  sections.swap(sections_);
  size_ = 0;
  return sections;
}

}  // namespace objstore_host

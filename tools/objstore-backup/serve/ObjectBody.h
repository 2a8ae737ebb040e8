// ObjectBody: collects a request body, chunk by chunk, straight into the data sections of the
// object's segment (one per extent), so the body is held once and never copied whole.
#ifndef OBJSTORE_HOST_SERVE_OBJECTBODY_H_
#define OBJSTORE_HOST_SERVE_OBJECTBODY_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SectionV.h"

namespace objstore_host {

class ObjectBody {
 public:
  // Refuses bodies beyond `maxBytes`; data sections hold at most `extentBytes` each.
  ObjectBody(uint64_t maxBytes, uint64_t extentBytes);

  // Appends `size` bytes. False, keeping nothing of them, when the body would grow past the
  // maximum.
  bool append(const char* data, size_t size);

  uint64_t size() const { return size_; }
  // Hands the data sections over; the body is empty afterwards.
  std::vector<ObjectStore::SectionV> takeSections();

 private:
  const uint64_t maxBytes_;
  const uint64_t extentBytes_;
  uint64_t size_ = 0;
  std::vector<ObjectStore::SectionV> sections_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_OBJECTBODY_H_

#include "StreamSlots.h"

namespace ObjectStore {

void StreamSlots::add(const OBJECTOPSAPI::CStreamHandlerPtr& handler, const StreamInfoPtr& stream) {
  slots_.emplace_back(handler, stream);
}

StreamSlot* StreamSlots::take(int checksum, size_t* index) {
  if (closed_.load(std::memory_order_acquire) || slots_.empty()) return nullptr;
  // A negative checksum counts as a large unsigned number.
  const uint64_t wide = static_cast<uint64_t>(static_cast<int64_t>(checksum));
  *index = static_cast<size_t>(wide % slots_.size());
  StreamSlot* slot = &slots_[*index];
  slot->users.fetch_add(1, std::memory_order_acq_rel);
  return slot;
}

void StreamSlots::give(StreamSlot* slot) {
  slot->users.fetch_sub(1, std::memory_order_acq_rel);
}

size_t StreamSlots::size() const {
  return closed_.load(std::memory_order_acquire) ? 0 : slots_.size();
}

std::vector<const StreamSlot*> StreamSlots::freeSlots() const {
  std::vector<const StreamSlot*> free;
  if (closed_.load(std::memory_order_acquire)) return free;
  for (const StreamSlot& slot : slots_) {
    if (slot.users.load(std::memory_order_acquire) == 0) free.push_back(&slot);
  }
  return free;
}

OBJECTOPSAPI::CStreamHandlerPtr StreamSlots::handlerAt(size_t index) const {
  if (closed_.load(std::memory_order_acquire) || index >= slots_.size()) {
    return OBJECTOPSAPI::CStreamHandlerPtr();
  }
  return slots_[index].handler;
}

void StreamSlots::close() {
  closed_.store(true, std::memory_order_release);
}

}  // namespace ObjectStore

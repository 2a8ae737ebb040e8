#include "StreamSlots.h"

namespace ObjectStore {

void StreamSlots::add(const OBJECTOPSAPI::CStreamHandlerPtr& handler, const StreamInfoPtr& stream) {
  slots_.emplace_back(handler, stream);
}

StreamSlot* StreamSlots::take(int checksum, size_t* index) {
  if (closed_.load(std::memory_order_acquire) || slots_.empty()) return nullptr;
  // A negative checksum counts as a large unsigned number.
  const uint64_t wide = static_cast<uint64_t>(static_cast<int64_t>(checksum));
  const size_t chosen = static_cast<size_t>(wide % slots_.size());
  StreamSlot* slot = &slots_[chosen];
  // Raised before closed_ is read again, both sequentially consistent, as closeAndDrain stores
  // closed_ before it reads the counts: either this take sees the close, or the close sees
  // this take and waits for it.
  slot->users.fetch_add(1, std::memory_order_seq_cst);
  if (closed_.load(std::memory_order_seq_cst)) {
    give(slot);
    return nullptr;
  }
  *index = chosen;
  return slot;
}

void StreamSlots::give(StreamSlot* slot) {
  if (slot->users.fetch_sub(1, std::memory_order_seq_cst) != 1) return;
  if (!closed_.load(std::memory_order_seq_cst)) return;
  std::lock_guard<std::mutex> lock(drainMutex_);
  drained_.notify_all();
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

bool StreamSlots::closeAndDrain(std::chrono::steady_clock::time_point deadline) {
  closed_.store(true, std::memory_order_seq_cst);
  std::unique_lock<std::mutex> lock(drainMutex_);
  return drained_.wait_until(lock, deadline, [this] { return !anyHeld(); });
}

std::vector<StreamSlot*> StreamSlots::all() {
  std::vector<StreamSlot*> every;
  for (StreamSlot& slot : slots_) every.push_back(&slot);
  return every;
}

bool StreamSlots::anyHeld() const {
  for (const StreamSlot& slot : slots_) {
    if (slot.users.load(std::memory_order_seq_cst) != 0) return true;
  }
  return false;
}

}  // namespace ObjectStore

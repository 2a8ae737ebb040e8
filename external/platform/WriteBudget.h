// WriteBudget: how many more bytes writes may put on a disk before they fail as on a full one.
// The stand-ins use it to play a full disk in tests and drills without a small file system.
//
// Unlimited until a limit is set. All operations are thread-safe; concurrent writers share the
// budget, and each byte is granted once.
#ifndef OBJSTORE_PLATFORM_WRITEBUDGET_H_
#define OBJSTORE_PLATFORM_WRITEBUDGET_H_

#include <atomic>
#include <cstdint>

class WriteBudget {
 public:
  static constexpr uint64_t kUnlimited = UINT64_MAX;

  WriteBudget() = default;
  WriteBudget(const WriteBudget&) = delete;
  WriteBudget& operator=(const WriteBudget&) = delete;

  // From now on, writes may use `bytes` more bytes in all (kUnlimited: no limit).
  void setLimit(uint64_t bytes) { left_.store(bytes); }
  bool limited() const { return left_.load() != kUnlimited; }

  // Takes up to `wanted` bytes from the budget and returns how many were granted. A writer that
  // is granted fewer writes those and then fails with ENOSPC, as a full disk does.
  uint64_t take(uint64_t wanted);

 private:
  std::atomic<uint64_t> left_{kUnlimited};
};

#endif  // OBJSTORE_PLATFORM_WRITEBUDGET_H_

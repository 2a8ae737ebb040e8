#include "WriteBudget.h"

#include <algorithm>

uint64_t WriteBudget::take(uint64_t wanted) {
  uint64_t left = left_.load();
  for (;;) {
    if (left == kUnlimited) return wanted;
    const uint64_t granted = std::min(left, wanted);
    if (left_.compare_exchange_weak(left, left - granted)) return granted;
  }
}

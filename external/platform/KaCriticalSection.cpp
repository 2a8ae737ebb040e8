#include "KaCriticalSection.h"

std::atomic<const KaSectionHooks*> KaCriticalSection::hooks_{nullptr};

void KaCriticalSection::SetHooks(const KaSectionHooks* hooks) {
  hooks_.store(hooks, std::memory_order_release);
}

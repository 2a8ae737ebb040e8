#include "ThreadGroup.h"

#include <thread>
#include <vector>

namespace objstore_host {

void RunOnThreads(unsigned count, const std::function<void()>& body) {
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < (count == 0 ? 1 : count); ++i) threads.emplace_back(body);
  for (std::thread& thread : threads) thread.join();
}

}  // namespace objstore_host

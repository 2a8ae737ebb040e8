// RunOnThreads: runs one function on several threads at once and waits for all of them.
#ifndef OBJSTORE_HOST_THREADGROUP_H_
#define OBJSTORE_HOST_THREADGROUP_H_

#include <functional>

namespace objstore_host {

// Calls `body` on `count` new threads (at least one) and returns when every call has returned.
// `body` must not throw: an escaping exception ends the process.
void RunOnThreads(unsigned count, const std::function<void()>& body);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_THREADGROUP_H_

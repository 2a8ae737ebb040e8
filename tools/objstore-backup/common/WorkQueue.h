// WorkQueue: a list of work items that several threads take from, each item once.
#ifndef OBJSTORE_HOST_WORKQUEUE_H_
#define OBJSTORE_HOST_WORKQUEUE_H_

#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace objstore_host {

template <typename T>
class WorkQueue {
 public:
  // Replaces the queue's content. Thread-safe.
  void assign(std::vector<T> items) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.assign(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
  }

  // Takes the next item; false when none is left. Thread-safe.
  bool pop(T* item) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.empty()) return false;
    *item = std::move(items_.front());
    items_.pop_front();
    return true;
  }

 private:
  std::mutex mutex_;
  std::deque<T> items_;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_WORKQUEUE_H_

// KaEvent: an event that owns one platform event object.
//
// The constructor's flag selects the reset mode and is passed through to the platform object:
//  - false: auto-reset. set() wakes one waiter, or, when nobody waits, stays set until the next
//    wait() consumes it.
//  - true: manual reset. set() wakes every waiter and the event stays set until reset().
// All operations are thread-safe. Allocation failure throws std::bad_alloc.
#ifndef OBJSTORE_PLATFORM_KAEVENT_H_
#define OBJSTORE_PLATFORM_KAEVENT_H_

struct KaEventH;  // the platform event object

class KaEvent {
 public:
  explicit KaEvent(bool manualReset = false);
  ~KaEvent();
  KaEvent(const KaEvent&) = delete;
  KaEvent& operator=(const KaEvent&) = delete;

  // Waits until the event is set or `milliseconds` have passed (negative: no limit).
  // Returns true when the wait ended because the event was set.
  bool wait(long milliseconds);
  void set();
  void reset();

 private:
  KaEventH* handle_;
};

#endif  // OBJSTORE_PLATFORM_KAEVENT_H_

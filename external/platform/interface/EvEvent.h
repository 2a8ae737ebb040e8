// EvEvent: an event of the host's event service, raised with MajorEvent.
//
// Raised events go to the process-wide sink. The default sink writes a level -1 log record with
// the event id, the job id and the arguments. Tests and hosts may install their own sink.
#ifndef OBJSTORE_PLATFORM_EVEVENT_H_
#define OBJSTORE_PLATFORM_EVEVENT_H_

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

struct EvRaisedEvent {
  int eventId;
  long long jobId;
  int flags;
  std::vector<std::string> arguments;
};

class EvEventSink {
 public:
  virtual ~EvEventSink() = default;
  // Called on the raising thread; must be thread-safe.
  virtual void raise(const EvRaisedEvent& event) = 0;
};

class EvEvent {
 public:
  EvEvent() = default;

  // Adds a text argument of the given argument type.
  void addArgument(const char* text, int type);
  EvEvent& operator<<(const char* text) {
    addArgument(text, 11);
    return *this;
  }

  // Hands the event to the current sink.
  void MajorEvent(int eventId, long long jobId, int flags);

  // Installs `sink` (null restores the default) and returns the previous one. Install before
  // other threads raise events.
  static boost::shared_ptr<EvEventSink> SetSink(boost::shared_ptr<EvEventSink> sink);

 private:
  std::vector<std::string> arguments_;
};

#endif  // OBJSTORE_PLATFORM_EVEVENT_H_

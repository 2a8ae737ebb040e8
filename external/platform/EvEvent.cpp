#include "EvEvent.h"

#include <mutex>

#include "LogWriter.h"

namespace {

// Writes each raised event as a level -1 log record.
class LoggingEventSink : public EvEventSink {
 public:
  void raise(const EvRaisedEvent& event) override {
    std::string arguments;
    for (const std::string& argument : event.arguments) {
      if (!arguments.empty()) arguments += ", ";
      arguments += argument;
    }
    OBJSTORE_LOG(-1, "EVENT [0x%08X] job [%lld] arguments [%s]",
                 static_cast<unsigned int>(event.eventId), event.jobId, arguments.c_str());
  }
};

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

boost::shared_ptr<EvEventSink>& DefaultSink() {
  static boost::shared_ptr<EvEventSink> sink(new LoggingEventSink);
  return sink;
}

// Guarded by SinkMutex().
boost::shared_ptr<EvEventSink>& CurrentSink() {
  static boost::shared_ptr<EvEventSink> sink = DefaultSink();
  return sink;
}

}  // namespace

void EvEvent::addArgument(const char* text, int /*type*/) {
  arguments_.push_back(text != nullptr ? text : "");
}

void EvEvent::MajorEvent(int eventId, long long jobId, int flags) {
  boost::shared_ptr<EvEventSink> sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = CurrentSink();
  }
  // Raise outside the lock: a sink may be slow or raise events itself.
  sink->raise(EvRaisedEvent{eventId, jobId, flags, arguments_});
}

boost::shared_ptr<EvEventSink> EvEvent::SetSink(boost::shared_ptr<EvEventSink> sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  boost::shared_ptr<EvEventSink> previous = CurrentSink();
  CurrentSink() = sink ? sink : DefaultSink();
  return previous;
}

#include "EvEvent.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using objstore_testing::ScopedEventCapture;
using objstore_testing::ScopedLogCapture;

TEST(EvEventTest, InstalledSinkReceivesTheEvent) {
  ScopedEventCapture capture;
  EvEvent event;
  event << "guid-1";
  event.addArgument("second", 11);
  event.MajorEvent(0x4A0004E9, 77, 3);
  std::vector<EvRaisedEvent> events = capture.events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(0x4A0004E9, events[0].eventId);
  EXPECT_EQ(77, events[0].jobId);
  EXPECT_EQ(3, events[0].flags);
  EXPECT_EQ((std::vector<std::string>{"guid-1", "second"}), events[0].arguments);
}

TEST(EvEventTest, DefaultSinkLogsAnErrorRecord) {
  ScopedLogCapture log;
  boost::shared_ptr<EvEventSink> previous = EvEvent::SetSink(boost::shared_ptr<EvEventSink>());
  EvEvent withArguments;
  withArguments << "a"
                << "b";
  withArguments.MajorEvent(0x4A0004E9, 12345678901LL, 0);
  EvEvent().MajorEvent(1, -1, 0);
  EvEvent::SetSink(previous);
  EXPECT_EQ(1u, log.log().count("EVENT [0x4A0004E9] job [12345678901] arguments [a, b]", -1));
  EXPECT_EQ(1u, log.log().count("EVENT [0x00000001] job [-1] arguments []", -1));
}

TEST(EvEventTest, SetSinkReturnsThePreviousSink) {
  ScopedEventCapture outer;
  {
    ScopedEventCapture inner;
    EvEvent().MajorEvent(1, 1, 0);
    EXPECT_EQ(1u, inner.events().size());
  }
  EvEvent().MajorEvent(2, 2, 0);  // the outer sink is back
  ASSERT_EQ(1u, outer.events().size());
  EXPECT_EQ(2, outer.events()[0].eventId);
}

}  // namespace

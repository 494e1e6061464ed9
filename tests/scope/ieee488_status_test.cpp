// The status of a SCPI connection: error classes set their event bits, the
// queue keeps its oldest entries and says when it overflowed, the status
// byte summarises the enabled events.
#include "scpi/ieee488_status.h"

#include <gtest/gtest.h>

namespace rk350::scpi {
namespace {

TEST(Ieee488Status, ErrorsSetTheirClassesEventBits) {
  const std::pair<int, std::uint8_t> cases[] = {
      {-113, kCommandError}, {-222, kExecutionError}, {-363, kDeviceError}, {32, kDeviceError}, {-410, kQueryError}};
  for (const auto& [code, bit] : cases) {
    Ieee488Status s;
    s.ReadEvents();  // power-on
    s.Push({code, "x"});
    EXPECT_EQ(s.ReadEvents(), bit) << code;
    EXPECT_EQ(s.ReadEvents(), 0) << "reading clears";
  }
}

TEST(Ieee488Status, TheQueueKeepsTheOldestAndEndsWithOverflow) {
  Ieee488Status s;
  for (int i = 0; i < 100; ++i) s.Push({-100 - i % 10, "e" + std::to_string(i)});
  EXPECT_EQ(s.ErrorCount(), 32u);
  EXPECT_EQ(s.PopError(), "-100,\"e0\"");
  for (int i = 1; i < 31; ++i) s.PopError();
  EXPECT_EQ(s.PopError(), "-350,\"Queue overflow\"");
  EXPECT_EQ(s.PopError(), "0,\"No error\"");
}

TEST(Ieee488Status, ReadingAFullQueueMakesRoomBeforeTheOneOverflow) {
  Ieee488Status s;
  for (int i = 0; i < 40; ++i) s.Push({-100, "old"});
  EXPECT_EQ(s.PopError(), "-100,\"old\"");
  s.Push({-222, "new"});
  s.Push({-222, "lost"});  // full again
  EXPECT_EQ(s.ErrorCount(), 32u);
  for (int i = 0; i < 30; ++i) s.PopError();
  EXPECT_EQ(s.PopError(), "-222,\"new\"");
  EXPECT_EQ(s.PopError(), "-350,\"Queue overflow\"");
  EXPECT_EQ(s.PopError(), "0,\"No error\"");
  s.Push({-113, "after"});  // an emptied queue fills as new
  EXPECT_EQ(s.PopError(), "-113,\"after\"");
}

TEST(Ieee488Status, ErrorTextsAreAscii) {
  Ieee488Status s;
  s.Push({-222, "Data out of range;\u00b120 V \u2026 \u00b5s \u4e2d"});
  EXPECT_EQ(s.PopError(), "-222,\"Data out of range;+/-20 V ... us ?\"");
}

TEST(Ieee488Status, TheStatusByteSummarisesEnabledEventsAndTheQueue) {
  Ieee488Status s;
  s.Clear();
  EXPECT_EQ(s.StatusByte(), 0);
  s.Push({-222, "x"});
  EXPECT_EQ(s.StatusByte(), kErrorAvailable);
  s.SetEventEnable(kExecutionError);
  EXPECT_EQ(s.StatusByte(), kErrorAvailable | kEventSummary);
  s.SetServiceEnable(kEventSummary);
  EXPECT_EQ(s.StatusByte(), kErrorAvailable | kEventSummary | kServiceRequest);
  s.Clear();
  EXPECT_EQ(s.StatusByte(), 0);
}

TEST(Ieee488Status, OperationEventsLatchTheConditionsRisingEdgesIntoTheStatusByte) {
  Ieee488Status s;
  s.SetOperationCondition(kWaitingForTrigger);
  EXPECT_EQ(s.StatusByte(), 0);  // not enabled
  s.SetOperationEnable(kRecordReady);
  s.SetServiceEnable(kOperationSummary);
  EXPECT_EQ(s.StatusByte(), 0);
  s.SetOperationCondition(kRecordReady);  // ready: latched, summarised, a service request
  s.SetOperationCondition(0);             // the condition going away keeps the event
  EXPECT_EQ(s.OperationCondition(), 0);
  EXPECT_EQ(s.StatusByte(), kOperationSummary | kServiceRequest);
  EXPECT_EQ(s.ReadOperationEvents(), kWaitingForTrigger | kRecordReady);
  EXPECT_EQ(s.ReadOperationEvents(), 0);  // read and cleared
  s.SetOperationCondition(kRecordReady);
  s.SetOperationCondition(kRecordReady);  // still set: no new edge
  EXPECT_EQ(s.ReadOperationEvents(), kRecordReady);
  s.SetOperationCondition(0);
  s.SetOperationCondition(kRecordReady);
  s.Clear();  // *CLS empties the event registers, not the condition or the masks
  EXPECT_EQ(s.StatusByte(), 0);
  EXPECT_EQ(s.OperationCondition(), kRecordReady);
  EXPECT_EQ(s.OperationEnable(), kRecordReady);
  s.SetOperationEnable(0xFFFF);
  EXPECT_EQ(s.OperationEnable(), 0x7FFF);  // bit 15 is never used
}

}  // namespace
}  // namespace rk350::scpi

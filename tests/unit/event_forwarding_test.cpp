// The event handler's bindings and the hidden window's device messages.
#include "library/event_forwarding.h"

#include <gtest/gtest.h>

#include "library/library_state.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::MessageBoxCapture;
using testing::RecordedBus;

class EventForwarding : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetLibraryToLoaded(); }
  void TearDown() override { testing::ResetLibraryToLoaded(); }
  RecordedBus bus;
  MessageBoxCapture boxes;
};

TEST_F(EventForwarding, HandlerWithoutInstrumentBindsNothing) {
  TEventHandler handler;
  SUCCEED();
}

TEST_F(EventForwarding, MeasurementReadyEventSetsTheLibraryFlag) {
  ASSERT_EQ(InitInstrument(0x288), ResultOk);
  EXPECT_FALSE(gMeasurementReady);
  gInstrument->FireMeasurementReady();
  EXPECT_TRUE(gMeasurementReady);
}

TEST_F(EventForwarding, SettingsChangedWithoutCardChangesNoVoltFactor) {
  ASSERT_EQ(InitInstrument(0x300), ResultNoInstrument);  // Absent: SetSensitivity answers 1
  const double before = gVoltFactor[1];
  gInstrument->RangeIndex[1] = 9;
  gInstrument->amAcquisitionMode = amOneShot;
  gInstrument->TimerDispatch();
  EXPECT_EQ(gVoltFactor[1], before);
}

TEST_F(EventForwarding, ContinuousAndHoldTicksLeaveTheVoltFactors) {
  ASSERT_EQ(InitInstrument(0x288), ResultOk);
  const double before1 = gVoltFactor[1];
  const double before2 = gVoltFactor[2];
  for (TAcquisitionMode mode : {amHold, amContinuous}) {
    gInstrument->amAcquisitionMode = mode;
    gInstrument->RangeIndex[1] = 9;  // as automatic ranging would
    gInstrument->TimerDispatch();
    EXPECT_EQ(gVoltFactor[1], before1) << static_cast<int>(mode);
    EXPECT_EQ(gVoltFactor[2], before2) << static_cast<int>(mode);
  }
}

TEST_F(EventForwarding, DeviceArrivalStartsTheTimerAndShowsItsText) {
  ASSERT_EQ(InitInstrument(0x288), ResultOk);
  ASSERT_NE(gDeviceMessageReceiver, nullptr);
  gInstrument->EngineState = 3;
  ASSERT_FALSE(gInstrument->MeasureTimer->Enabled());
  ASSERT_TRUE(gDeviceMessageReceiver->Window().Post(kMessageDeviceArrived));
  EXPECT_TRUE(boxes.Texts().empty());  // handled only when the thread processes messages
  platform::ProcessPendingMessages();
  EXPECT_TRUE(gInstrument->MeasureTimer->Enabled());
  EXPECT_EQ(gInstrument->EngineState, 0);
  ASSERT_EQ(boxes.Texts().size(), 1u);
  EXPECT_EQ(boxes.Texts()[0], "WMDeviceArrived ");
}

TEST_F(EventForwarding, DeviceChangeIsTakenAndIgnored) {
  ASSERT_EQ(InitInstrument(0x288), ResultOk);
  bus.Recorder().Clear();
  ASSERT_TRUE(gDeviceMessageReceiver->Window().Post(kMessageDeviceChange));
  platform::ProcessPendingMessages();
  EXPECT_FALSE(gInstrument->MeasureTimer->Enabled());
  EXPECT_TRUE(boxes.Texts().empty());
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(EventForwarding, MessagesQueuedForAReleasedWindowAreDropped) {
  ASSERT_EQ(InitInstrument(0x288), ResultOk);
  ASSERT_TRUE(gDeviceMessageReceiver->Window().Post(kMessageDeviceArrived));
  ASSERT_EQ(ExitInstrument(), ResultOk);
  platform::ProcessPendingMessages();
  EXPECT_TRUE(boxes.Texts().empty());
}

}  // namespace
}  // namespace rk350

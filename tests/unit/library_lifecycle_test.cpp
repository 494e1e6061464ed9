// The library's five states (Loaded, Ready, Absent, Closed, Stale) and every
// transition between them, through the exports, against a virtual card
// behind a recording bus.
#include <gtest/gtest.h>

#include "library/event_forwarding.h"
#include "library/library_state.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::MessageBoxCapture;
using testing::RecordedBus;

enum class State { Loaded, Ready, Absent, Closed, Stale };

const char* Name(State s) {
  constexpr const char* kNames[] = {"Loaded", "Ready", "Absent", "Closed", "Stale"};
  return kNames[static_cast<int>(s)];
}

// Reads the state from the library-level values, as the table defines it.
State Current() {
  if (gInstrument == nullptr) return gInitialised ? State::Closed : State::Loaded;
  if (gInstrument->HardwarePresent) return State::Ready;
  return gInitialised ? State::Stale : State::Absent;
}

constexpr uint16_t kCardBase = 0x288;
constexpr uint16_t kEmptyBase = 0x300;

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetLibraryToLoaded(); }
  void TearDown() override { testing::ResetLibraryToLoaded(); }

  // Drives the library into a state from Loaded along the shortest path.
  void Reach(State s) {
    switch (s) {
      case State::Loaded:
        break;
      case State::Ready:
        ASSERT_EQ(InitInstrument(kCardBase), ResultOk);
        break;
      case State::Absent:
        ASSERT_EQ(InitInstrument(kEmptyBase), ResultNoInstrument);
        break;
      case State::Closed:
        Reach(State::Ready);
        ASSERT_EQ(ExitInstrument(), ResultOk);
        break;
      case State::Stale:
        Reach(State::Closed);
        ASSERT_EQ(InitInstrument(kCardBase), ResultNoInstrument);
        break;
    }
    ASSERT_EQ(Current(), s);
  }

  RecordedBus bus{kCardBase};
  MessageBoxCapture boxes;
};

// Every export call of the lifecycle from every state: the result and the
// state it leads to.
TEST_F(Lifecycle, EveryTransitionOfTheStateTable) {
  enum class Call { InitCard, InitEmpty, Exit };
  struct Case {
    State from;
    Call call;
    uint16_t result;
    State to;
  };
  const Case cases[] = {
      {State::Loaded, Call::InitCard, ResultOk, State::Ready},
      {State::Loaded, Call::InitEmpty, ResultNoInstrument, State::Absent},
      {State::Loaded, Call::Exit, ResultOk, State::Loaded},
      {State::Ready, Call::InitCard, ResultOk, State::Ready},
      {State::Ready, Call::InitEmpty, ResultOk, State::Ready},  // the address is not looked at
      {State::Ready, Call::Exit, ResultOk, State::Closed},
      {State::Absent, Call::InitCard, ResultNoInstrument, State::Absent},
      {State::Absent, Call::InitEmpty, ResultNoInstrument, State::Absent},
      {State::Absent, Call::Exit, ResultOk, State::Loaded},
      {State::Closed, Call::InitCard, ResultNoInstrument, State::Stale},
      {State::Closed, Call::InitEmpty, ResultNoInstrument, State::Stale},
      {State::Closed, Call::Exit, ResultOk, State::Closed},
      {State::Stale, Call::InitCard, ResultNoInstrument, State::Stale},
      {State::Stale, Call::Exit, ResultOk, State::Closed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << Name(c.from) << " -> " << Name(c.to));
    testing::ResetLibraryToLoaded();
    Reach(c.from);
    const TRK350* before = gInstrument;
    uint16_t result = 0;
    switch (c.call) {
      case Call::InitCard:
        result = InitInstrument(kCardBase);
        break;
      case Call::InitEmpty:
        result = InitInstrument(kEmptyBase);
        break;
      case Call::Exit:
        result = ExitInstrument();
        break;
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Current(), c.to) << "now " << Name(Current());
    // A second InitInstrument creates nothing.
    if (before != nullptr && c.call != Call::Exit) {
      EXPECT_EQ(gInstrument, before);
    }
  }
}

TEST_F(Lifecycle, AbsentThenExitRunsTheWholeSequenceAgainWithAnotherAddress) {
  Reach(State::Absent);
  ASSERT_EQ(ExitInstrument(), ResultOk);
  ASSERT_EQ(Current(), State::Loaded);
  bus.Recorder().Clear();
  EXPECT_EQ(InitInstrument(kCardBase), ResultOk);
  EXPECT_EQ(gInstrument->nHardwareAddress, kCardBase);
  EXPECT_GT(bus.Recorder().Count(), 0u);
}

TEST_F(Lifecycle, CallerAddressBecomesTheBase) {
  testing::ResetLibraryToLoaded();
  RecordedBus other(0x300);
  EXPECT_EQ(InitInstrument(0x300), ResultOk);
  EXPECT_EQ(gInstrument->nHardwareAddress, 0x300);
}

TEST_F(Lifecycle, ReadyHasTheInitialisedSettingsAndRegisteredMessages) {
  Reach(State::Ready);
  for (int ch = 1; ch <= 4; ++ch) {
    EXPECT_FALSE(gInstrument->AutoRanging[ch]) << ch;
    EXPECT_EQ(gVoltFactor[ch], static_cast<double>(gInstrument->GetChSensitivity(ch)) / 32768.0) << ch;
    EXPECT_NE(gVoltFactor[ch], 0.0);
  }
  EXPECT_EQ(gInstrument->amAcquisitionMode, amHold);
  EXPECT_TRUE(gInitialised);
  EXPECT_TRUE(gDataFetched);
  EXPECT_FALSE(gInstrument->MeasureTimer->Enabled());
  // The four names, registered in order; the same name gives the same id.
  EXPECT_EQ(gMeasurementReadyMessage, platform::RegisterMessage("Morvek: MeasurementReady"));
  EXPECT_EQ(gTransUpdateMessage, platform::RegisterMessage("Morvek: TransUpdate"));
  EXPECT_EQ(gTransReadyMessage, platform::RegisterMessage("Morvek: TransReady"));
  EXPECT_EQ(gSettingChangedMessage, platform::RegisterMessage("Morvek: SettingChanged"));
  for (uint32_t id : {gMeasurementReadyMessage, gTransUpdateMessage, gTransReadyMessage, gSettingChangedMessage}) {
    EXPECT_GE(id, 0xC000u);
    EXPECT_LE(id, 0xFFFFu);
  }
  EXPECT_NE(gTransUpdateMessage, gTransReadyMessage);
  EXPECT_EQ(gInstrument->TransientUpdateMessage, gTransUpdateMessage);
  EXPECT_EQ(gInstrument->TransientReadyMessage, gTransReadyMessage);
  // The event handler and the hidden window exist and are bound.
  EXPECT_NE(gEventHandler, nullptr);
  EXPECT_NE(gDeviceMessageReceiver, nullptr);
  EXPECT_TRUE(gInstrument->OnMeasurementReady.Assigned());
  EXPECT_TRUE(gInstrument->OnSettingsChanged.Assigned());
}

TEST_F(Lifecycle, FailedInitKeepsItsObjectsWithTheTimerStoppedAndRegistersNothing) {
  Reach(State::Absent);
  EXPECT_NE(gEventHandler, nullptr);
  EXPECT_NE(gDeviceMessageReceiver, nullptr);
  EXPECT_FALSE(gInstrument->MeasureTimer->Enabled());
  EXPECT_EQ(gTransUpdateMessage, 0u);
  EXPECT_EQ(gInstrument->TransientUpdateMessage, 0u);
  // Steps 5.1 to 5.3 ran before the card was looked for.
  EXPECT_EQ(gInstrument->amAcquisitionMode, amHold);
  for (int ch = 1; ch <= 4; ++ch) EXPECT_FALSE(gInstrument->AutoRanging[ch]);
  EXPECT_NE(gVoltFactor[1], 0.0);
}

TEST_F(Lifecycle, ExitLeavesInitialisedMessagesAndVoltFactors) {
  Reach(State::Ready);
  const uint32_t update = gTransUpdateMessage;
  const double factor = gVoltFactor[2];
  ASSERT_EQ(ExitInstrument(), ResultOk);
  EXPECT_EQ(gInstrument, nullptr);
  EXPECT_EQ(gEventHandler, nullptr);
  EXPECT_EQ(gDeviceMessageReceiver, nullptr);
  EXPECT_TRUE(gInitialised);
  EXPECT_EQ(gTransUpdateMessage, update);
  EXPECT_EQ(gVoltFactor[2], factor);
}

TEST_F(Lifecycle, StaleRunsTheSettingStepsButLooksForNoCard) {
  Reach(State::Closed);
  bus.Recorder().Clear();
  EXPECT_EQ(InitInstrument(kCardBase), ResultNoInstrument);
  // The new instrument's constructor programs the sample clock; detection
  // never runs, so the EEPROM lines (register 1) stay untouched.
  EXPECT_TRUE(bus.Recorder().RegisterWrites(1).empty());
  EXPECT_EQ(gInstrument->amAcquisitionMode, amHold);
  EXPECT_FALSE(gInstrument->AutoRanging[3]);
  uint16_t channels = 9;
  EXPECT_EQ(GetNrChannels(&channels), ResultNoInstrument);
  EXPECT_EQ(channels, 9);
}

TEST_F(Lifecycle, GuardedExportsAnswerPerState) {
  struct Case {
    State state;
    uint16_t guard;
    uint16_t initialisedGuard;
  };
  const Case cases[] = {
      {State::Loaded, ResultNoInstrument, ResultNoInstrument}, {State::Ready, ResultOk, ResultOk},
      {State::Absent, ResultNoInstrument, ResultNoInstrument}, {State::Closed, ResultNoInstrument, ResultNoInstrument},
      {State::Stale, ResultNoInstrument, ResultNoInstrument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.state));
    testing::ResetLibraryToLoaded();
    Reach(c.state);
    EXPECT_EQ(CheckInstrument(), c.guard);
    EXPECT_EQ(CheckInstrumentInitialised(), c.initialisedGuard);
    uint16_t channels = 0;
    EXPECT_EQ(GetNrChannels(&channels), c.guard);
    EXPECT_EQ(GetMaxRecordLength(), c.guard == ResultOk ? 65520 : 0);
  }
}

// A Ready instrument whose gInitialised flag is false cannot be reached
// through the exports; the guard of the five measurement exports tells it.
TEST_F(Lifecycle, InitialisedGuardComesAfterTheInstrumentGuard) {
  Reach(State::Ready);
  gInitialised = false;
  EXPECT_EQ(CheckInstrumentInitialised(), ResultNotInitialised);
  EXPECT_EQ(ADC_Start(), ResultNotInitialised);
  EXPECT_EQ(ADC_Abort(), ResultNotInitialised);
  EXPECT_EQ(ADC_ForceTrig(), ResultNotInitialised);
  EXPECT_EQ(DoMeasure(0), ResultNotInitialised);
  EXPECT_EQ(StartMeasurement(), ResultNotInitialised);
  gInstrument->HardwarePresent = false;
  EXPECT_EQ(ADC_Start(), ResultNoInstrument);
}

}  // namespace
}  // namespace rk350

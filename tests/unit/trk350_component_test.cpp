// The instrument component's frame: defaults after construction, the common
// setter rule, NotifySettingsChanged, the timer dispatch by acquisition mode,
// the events, BindNotificationMessage and the constant texts.
#include <gtest/gtest.h>

#include <thread>

#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;

class Component : public ::testing::Test {
 protected:
  RecordedBus bus;
  TRK350 instrument{nullptr};
};

TEST_F(Component, DefaultsAfterConstruction) {
  const TRK350& t = instrument;
  EXPECT_TRUE(t.PortAccessEnabled);  // the virtual card needs no driver
  EXPECT_FALSE(t.HardwarePresent);
  EXPECT_EQ(t.DeviceName, "RK350 ISA");
  EXPECT_EQ(t.InstrumentKind, 5);
  EXPECT_EQ(t.ChannelCount, 2);
  EXPECT_EQ(t.MaxRecordLength, 65520);
  EXPECT_EQ(t.MaxSampleFrequency, 50000000.0L);
  EXPECT_EQ(t.Resolution, 8);
  EXPECT_EQ(t.ResolutionCount, 1);
  EXPECT_EQ(t.Resolutions[0], 8);
  for (int i = 1; i < 10; ++i) EXPECT_EQ(t.Resolutions[i], 0) << i;
  EXPECT_EQ(t.nHardwareAddress, 648);
  EXPECT_TRUE(t.UseCallerAddress);
  EXPECT_EQ(t.mMeasureMode, mCh12);
  EXPECT_EQ(t.ActiveChannels, 3);
  EXPECT_EQ(t.amAcquisitionMode, amContinuous);
  EXPECT_EQ(t.tmTransferMode, tmBlock);
  EXPECT_FALSE(t.bEnableMeasurements);
  EXPECT_EQ(t.nCalculations, 1);
  EXPECT_EQ(t.nAverageNumber, 1);
  EXPECT_EQ(t.GetrSampleFreq(), 25000000.0L);
  EXPECT_EQ(t.lRecordLength, 512);
  EXPECT_EQ(t.lPreSamples, 256);
  EXPECT_EQ(t.lPostSamples, 256);
  EXPECT_EQ(t.rTransSampleTime, 1.0L);
  EXPECT_EQ(t.rTrigTimeOut, 1.0L);
  EXPECT_EQ(t.tsTriggerSource, tsCh1);
  EXPECT_EQ(t.AppliedTriggerSource, tsCh1);
  EXPECT_FALSE(t.bExternalClock);
  EXPECT_FALSE(t.bSlowIO);
  EXPECT_TRUE(t.SettingsDirty);
  EXPECT_FALSE(t.SettingsEventEnabled);
  EXPECT_FALSE(t.MeasurementBusy);
  EXPECT_FALSE(t.Interleaved);
  EXPECT_EQ(t.GenWaveLength, 1024);
  EXPECT_EQ(t.FuncGenMemoryLength, 65536);
  EXPECT_EQ(t.FuncGenMaxAmplitude, 10.0L);
  EXPECT_TRUE(t.SquareWaveGenPresent);
  EXPECT_TRUE(t.DcLevelAvailable);
  EXPECT_EQ(t.DigitalInputsAvailable, 0);
  EXPECT_EQ(t.DigitalOutputsAvailable, 0);
  EXPECT_EQ(t.TriggerLevelBits, 8);
  EXPECT_EQ(t.SerialNumber, 0);
  for (int ch = 1; ch <= 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(t.RangeIndex[ch], 6);
    EXPECT_TRUE(t.AutoRanging[ch]);
    EXPECT_EQ(t.Coupling[ch], 0);
    EXPECT_EQ(t.DcLevel[ch], 0.0L);
    EXPECT_EQ(t.TriggerMode[ch], 0);
    EXPECT_EQ(t.TriggerLevel[ch], 127);
    EXPECT_EQ(t.TriggerHysteresis[ch], 10);
  }
  EXPECT_FALSE(t.MeasureTimer->Enabled());
  EXPECT_EQ(t.MeasureTimer->IntervalMs(), 6u);
  EXPECT_FALSE(t.OnSettingsChanged.Assigned());
  EXPECT_FALSE(t.OnMeasurementReady.Assigned());
  EXPECT_FALSE(t.OnTriggered.Assigned());
  EXPECT_FALSE(t.OnTransientUpdate.Assigned());
}

TEST_F(Component, RangeTablesAndCapabilityFlags) {
  constexpr Extended kFullScale[13] = {0, 0.02L, 0.04L, 0.1L, 0.2L, 0.4L, 0.8L, 2, 4, 8, 20, 40, 80};
  EXPECT_EQ(instrument.SensitivityCount, 10);
  for (int r = 1; r <= 12; ++r) {
    EXPECT_EQ(instrument.Sensitivities[r], kFullScale[r]) << r;
    EXPECT_EQ(instrument.DcLevelLimits[r], 2 * kFullScale[r]) << r;
  }
  struct Flag {
    const char* name;
    bool value;
    bool expected;
  };
  const Flag flags[] = {
      {"HasGeneratorBurst", instrument.HasGeneratorBurst, false},
      {"HasGeneratorTriggerSource", instrument.HasGeneratorTriggerSource, false},
      {"AllowsTriggerModes5And6", instrument.AllowsTriggerModes5And6, true},
      {"AllowsTriggerMode4", instrument.AllowsTriggerMode4, true},
      {"HasExternalTrigger", instrument.HasExternalTrigger, true},
      {"HasAnalogExternalTrigger", instrument.HasAnalogExternalTrigger, false},
      {"HasPxiTrigger", instrument.HasPxiTrigger, false},
      {"HasGeneratorTrigger", instrument.HasGeneratorTrigger, false},
      {"HasLogicTrigger", instrument.HasLogicTrigger, true},
      {"HasXorTrigger", instrument.HasXorTrigger, false},
      {"AllowsTriggerModes2And3", instrument.AllowsTriggerModes2And3, true},
  };
  for (const Flag& f : flags) EXPECT_EQ(f.value, f.expected) << f.name;
}

TEST_F(Component, BuffersAreAllocatedOnceAtTheirLargestSize) {
  for (int ch = 1; ch <= 2; ++ch) {
    ASSERT_NE(instrument.ChannelData[ch], nullptr);
    ASSERT_NE(instrument.InterleaveBuffer[ch], nullptr);
    ASSERT_NE(instrument.AverageBuffer[ch], nullptr);
    // The last element of each is addressable (ASan checks the size).
    instrument.ChannelData[ch][kChannelBufferSamples - 1] = 1;
    instrument.InterleaveBuffer[ch][kChannelBufferSamples - 1] = 1;
    for (int i = 1; i <= 65520; ++i) ASSERT_EQ(instrument.AverageBuffer[ch][i], 0.0f) << i;
    instrument.AverageBuffer[ch][kAverageBufferFloats - 1] = 1;
  }
  instrument.GenUserBuffer[kGenBufferWords - 1] = 1;
  instrument.GenWaveBuffer[kGenBufferWords - 1] = 1;
}

TEST_F(Component, ConstructionProgramsOnlyTheSampleClockAndDestructionNothing) {
  bus.Recorder().Clear();
  { TRK350 other(nullptr); }
  // The 25 MHz request of the constructor selects the fixed rate: clock mode
  // 6, clock select 0x10. Nothing else reaches the card.
  EXPECT_EQ(bus.Recorder().Text(), "reg 8 = 0x06\nreg 5 = 0x10\n");
}

TEST_F(Component, CursorHintAndTagAreTheConstantText) {
  EXPECT_EQ(instrument.GetCursor(), "nvt");
  EXPECT_EQ(instrument.GetHint(), "nvt");
  EXPECT_EQ(instrument.GetTag(), "nvt");
}

// Counts calls of an event and remembers the sender.
struct EventProbe {
  int calls = 0;
  TRK350* sender = nullptr;
  static void Handler(void* self, TRK350* sender) {
    auto* p = static_cast<EventProbe*>(self);
    ++p->calls;
    p->sender = sender;
  }
  TNotifyEvent Event() { return {&Handler, this}; }
};

// The common setter rule over the setters of the component's input,
// timebase and trigger settings: an unchanged value does nothing; a change
// stores, restarts the average and runs NotifySettingsChanged.
TEST_F(Component, SettersFollowTheCommonRule) {
  struct Setter {
    const char* name;
    void (*set)(TRK350&, bool changed);
  };
  const Setter setters[] = {
      {"DcLevel", [](TRK350& t, bool changed) { t.SetChDcLevel(1, changed ? 0.5L : t.DcLevel[1]); }},
      {"rSampleFreq", [](TRK350& t, bool changed) { t.SetrSampleFreq(changed ? 10000000.0L : t.GetrSampleFreq()); }},
      {"rTrigTimeOut", [](TRK350& t, bool changed) { t.SetrTrigTimeOut(changed ? 2.0L : t.rTrigTimeOut); }},
  };
  for (const Setter& s : setters) {
    SCOPED_TRACE(s.name);
    TRK350 t(nullptr);
    EventProbe probe;
    t.OnSettingsChanged = probe.Event();
    t.SettingsDirty = false;
    t.nCalculations = 7;
    t.tsTriggerSource = tsCh2;  // stored directly: only a notification copies it

    s.set(t, false);
    EXPECT_FALSE(t.SettingsDirty);
    EXPECT_EQ(t.nCalculations, 7);
    EXPECT_EQ(t.AppliedTriggerSource, tsCh1);

    s.set(t, true);
    EXPECT_TRUE(t.SettingsDirty);
    EXPECT_EQ(t.nCalculations, 1);
    EXPECT_EQ(t.AppliedTriggerSource, tsCh2);
    EXPECT_EQ(probe.calls, 0);  // setters do not fire the event: its gate is closed
  }
}

TEST_F(Component, NotifySettingsChangedCopiesTheSourceAndFiresOnlyThroughItsGate) {
  EventProbe probe;
  instrument.OnSettingsChanged = probe.Event();
  instrument.SettingsDirty = false;
  instrument.tsTriggerSource = tsExternal;
  instrument.NotifySettingsChanged();
  EXPECT_EQ(instrument.AppliedTriggerSource, tsExternal);
  EXPECT_TRUE(instrument.SettingsDirty);
  EXPECT_EQ(probe.calls, 0);

  instrument.SettingsEventEnabled = true;
  instrument.NotifySettingsChanged();
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(probe.sender, &instrument);

  instrument.OnSettingsChanged = {};
  instrument.NotifySettingsChanged();  // unassigned: nothing to call
  EXPECT_EQ(probe.calls, 1);
}

TEST_F(Component, TimerDispatchByAcquisitionMode) {
  struct Case {
    TAcquisitionMode mode;
    int settingsEvents;
  };
  const Case cases[] = {{amContinuous, 0}, {amHold, 0}, {amOneShot, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    TRK350 t(nullptr);
    EventProbe probe;
    t.OnSettingsChanged = probe.Event();
    t.amAcquisitionMode = c.mode;
    bus.Recorder().Clear();
    t.TimerDispatch();
    EXPECT_EQ(probe.calls, c.settingsEvents);  // one-shot: not gated by SettingsEventEnabled
    if (c.settingsEvents > 0) {
      EXPECT_EQ(probe.sender, &t);
    }
    if (c.mode == amHold) {
      EXPECT_EQ(bus.Recorder().Count(), 0u);
    }
  }
}

TEST_F(Component, HoldTickOfAFoundCardTouchesNothing) {
  ASSERT_TRUE(instrument.InitHardware());
  instrument.amAcquisitionMode = amHold;
  bus.Recorder().Clear();
  for (int i = 0; i < 5; ++i) instrument.TimerDispatch();
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(Component, MeasurementAndTriggerEventsCallOnlyWhenAssigned) {
  instrument.FireMeasurementReady();
  instrument.FireTriggered();
  EventProbe ready, triggered;
  instrument.OnMeasurementReady = ready.Event();
  instrument.OnTriggered = triggered.Event();
  instrument.FireMeasurementReady();
  instrument.FireTriggered();
  instrument.FireTriggered();
  EXPECT_EQ(ready.calls, 1);
  EXPECT_EQ(triggered.calls, 2);
  EXPECT_EQ(triggered.sender, &instrument);
}

TEST_F(Component, BindNotificationMessageTakesKindsFourAndFiveOnly) {
  EXPECT_TRUE(instrument.BindNotificationMessage(4, 0xC123));
  EXPECT_TRUE(instrument.BindNotificationMessage(5, 0xC124));
  EXPECT_EQ(instrument.TransientUpdateMessage, 0xC123u);
  EXPECT_EQ(instrument.TransientReadyMessage, 0xC124u);
  for (int kind : {-1, 0, 1, 2, 3, 6, 100}) {
    EXPECT_FALSE(instrument.BindNotificationMessage(kind, 0xC999)) << kind;
  }
  EXPECT_EQ(instrument.TransientUpdateMessage, 0xC123u);
  EXPECT_EQ(instrument.TransientReadyMessage, 0xC124u);
}

// The measurement timer runs TimerDispatch on the creating thread when that
// thread processes its messages.
TEST_F(Component, MeasureTimerDispatchesWhenTheThreadProcessesMessages) {
  EventProbe probe;
  instrument.OnSettingsChanged = probe.Event();
  instrument.amAcquisitionMode = amOneShot;
  instrument.StartMeasureTimer();
  EXPECT_TRUE(instrument.MeasureTimer->Enabled());
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  EXPECT_EQ(probe.calls, 0);  // nothing runs in the background
  platform::ProcessPendingMessages();
  EXPECT_EQ(probe.calls, 1);
  instrument.StopMeasureTimer();
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  platform::ProcessPendingMessages();
  EXPECT_EQ(probe.calls, 1);
}

TEST_F(Component, SlowIoChangesNoPortTraffic) {
  bus.Recorder().Clear();
  instrument.WriteRegister(9, 3);
  (void)instrument.ReadPort(2);
  const std::string fast = bus.Recorder().Text();
  instrument.bSlowIO = true;
  bus.Recorder().Clear();
  instrument.WriteRegister(9, 3);
  (void)instrument.ReadPort(2);
  EXPECT_EQ(bus.Recorder().Text(), fast);
}

}  // namespace
}  // namespace rk350

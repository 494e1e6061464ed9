// The measurement engine driven tick by tick against the virtual card: the
// card's time moves on by a fixed step at every status read, so records
// complete without a host clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/acquisition_fixture.h"

namespace rk350::testing {
namespace {

class EngineTest : public AcquisitionTest {
 protected:
  void SetUp() override {
    AcquisitionTest::SetUp();
    SetClock(1e6L);
    SetRecord(512, 256);
    Instrument().SetmMeasureMode(mCh1);
    Card().Time().SetAutoStep(1e-4);
    SetSource(1, card::SourceKind::kSine, 0.3, 0, 1e3);
    Instrument().OnTriggered = {&Log<'T'>, this};
    Instrument().OnMeasurementReady = {&Log<'M'>, this};
    Instrument().OnSettingsChanged = {&Log<'S'>, this};
  }
  template <char Tag>
  static void Log(void* self, TRK350*) {
    static_cast<EngineTest*>(self)->events_.push_back(Tag);
  }
  int ArmCount() { return static_cast<int>(Card().RegisterWriteCount(29)); }

  std::string events_;
};

TEST_F(EngineTest, OneShotTakesAverageNumberRecordsAndEndsInHold) {
  Instrument().nAverageNumber = 4;
  Instrument().SetamAcquisitionMode(amOneShot);
  Instrument().SettingsDirty = false;
  std::vector<int> calculations;
  int records = 0;
  for (int tick = 0; tick < 400 && Instrument().amAcquisitionMode == amOneShot; ++tick) {
    const size_t before = events_.size();
    Instrument().TimerDispatch();
    if (events_.find('M', before) != std::string::npos) {
      ++records;
      calculations.push_back(Instrument().nCalculations);
    }
  }
  EXPECT_EQ(records, 4);
  EXPECT_EQ(Instrument().amAcquisitionMode, amHold);
  EXPECT_EQ(calculations, (std::vector<int>{2, 3, 4, 4}));
  // Every one-shot tick ends with the settings event; a completing tick
  // polls, reports the record, then the settings.
  EXPECT_EQ(events_.substr(events_.size() - 3), "TMS");
  // Later ticks do nothing.
  const std::string done = events_;
  Instrument().TimerDispatch();
  EXPECT_EQ(events_, done);
}

TEST_F(EngineTest, ContinuousModeCyclesTheAverageCount) {
  Instrument().nAverageNumber = 3;
  Instrument().SetamAcquisitionMode(amContinuous);
  std::vector<int> calculations;
  for (int tick = 0; tick < 2000 && calculations.size() < 7; ++tick) {
    const size_t before = events_.size();
    Instrument().TimerDispatch();
    if (events_.find('M', before) != std::string::npos) calculations.push_back(Instrument().nCalculations);
  }
  EXPECT_EQ(calculations, (std::vector<int>{2, 3, 1, 2, 3, 1, 2}));
  EXPECT_EQ(events_.find('S'), std::string::npos);  // setters and continuous ticks fire no settings event
}

TEST_F(EngineTest, SettingsChangeInContinuousModeArmsTwice) {
  Instrument().SetamAcquisitionMode(amContinuous);
  Instrument().SettingsDirty = true;
  Recorder().Clear();
  Recorder().SetRecording(true);
  Instrument().EngineTick();  // arms, leaves the engine idle
  EXPECT_FALSE(Instrument().MeasurementBusy);
  Instrument().EngineTick();  // arms again
  EXPECT_TRUE(Instrument().MeasurementBusy);
  Recorder().SetRecording(false);
  int starts = 0;
  for (uint8_t v : Recorder().RegisterWrites(29)) starts += v == 0xAE;
  EXPECT_EQ(starts, 2);
}

TEST_F(EngineTest, TriggerTimeOutForcesOnTheTwentySecondPoll) {
  SetSource(1, card::SourceKind::kDc, 0, 0.0);  // never crosses the level
  Card().Time().SetAutoStep(0);
  Instrument().SetamAcquisitionMode(amContinuous);
  Instrument().SettingsDirty = false;
  int forcedAt = 0;
  for (int tick = 1; tick <= 40 && forcedAt == 0; ++tick) {
    Recorder().Clear();
    Recorder().SetRecording(true);
    Instrument().EngineTick();
    Recorder().SetRecording(false);
    const auto control = Recorder().RegisterWrites(9);
    if (tick > 1 && !control.empty() && control.back() == 3) forcedAt = tick;
  }
  EXPECT_EQ(forcedAt, 22);
  EXPECT_TRUE(Instrument().SettingsDirty);
  EXPECT_EQ(Instrument().PollCount, 0);
}

TEST_F(EngineTest, ForcedRecordIsFollowedByOneArmingWithoutFrontEndProgramming) {
  // The forcing marks the settings as changed, but reading the forced record
  // clears the mark: the next measurement is armed once, front end untouched.
  SetSource(1, card::SourceKind::kDc, 0, 0.0);
  Instrument().SetamAcquisitionMode(amContinuous);
  Instrument().SettingsDirty = false;
  for (int tick = 0; tick < 100 && events_.find('M') == std::string::npos; ++tick) Instrument().EngineTick();
  ASSERT_NE(events_.find('M'), std::string::npos);
  EXPECT_FALSE(Instrument().SettingsDirty);
  Recorder().Clear();
  Recorder().SetRecording(true);
  Instrument().EngineTick();
  Recorder().SetRecording(false);
  int starts = 0;
  for (uint8_t v : Recorder().RegisterWrites(29)) starts += v == 0xAE;
  EXPECT_EQ(starts, 1);
  EXPECT_TRUE(Instrument().MeasurementBusy);
  EXPECT_TRUE(Recorder().RegisterWrites(0).empty());  // no front-end serial traffic
}

TEST_F(EngineTest, NegativeTimeOutWaitsWithoutLimit) {
  SetSource(1, card::SourceKind::kDc, 0, 0.0);
  Instrument().SetrTrigTimeOut(-1);
  Instrument().SetamAcquisitionMode(amContinuous);
  for (int tick = 0; tick < 500; ++tick) Instrument().EngineTick();
  EXPECT_TRUE(Instrument().MeasurementBusy);
  EXPECT_TRUE(Card().Acquisition().Running());
  EXPECT_EQ(Card().Register(9), 1);
}

TEST_F(EngineTest, TimeOutBelowOneSamplePeriodRecordsWithoutTrigger) {
  SetSource(1, card::SourceKind::kDc, 0, 0.0);
  Instrument().SetrTrigTimeOut(0.0L);
  Instrument().SetamAcquisitionMode(amContinuous);
  Instrument().EngineTick();
  EXPECT_EQ(Instrument().AppliedTriggerSource, tsNoTrig);
  EXPECT_EQ(Card().Register(9), 3);
}

TEST_F(EngineTest, SynchronousMeasurementTakesOneRecordInHold) {
  Instrument().SetamAcquisitionMode(amHold);
  Instrument().RunSynchronousMeasurement();
  EXPECT_TRUE(Instrument().SyncDone);
  EXPECT_FALSE(Instrument().SyncAbandoned);
  EXPECT_EQ(std::count(events_.begin(), events_.end(), 'M'), 1);
  EXPECT_TRUE(Instrument().MeasureTimer->Enabled());
}

TEST_F(EngineTest, SynchronousMeasurementGivesUpOnACardThatStoppedAnswering) {
  Card().SetFault(card::VirtualCard::Fault::kStatusStuck);
  Instrument().RunSynchronousMeasurement();  // bounded: half a second of 0xFF
  EXPECT_FALSE(Instrument().SyncDone);
  EXPECT_TRUE(Instrument().SyncAbandoned);
}

TEST_F(EngineTest, SynchronousMeasurementGivesUpWhenTheRecordNeverCompletes) {
  // Card time frozen: the forced trigger never reaches the end of the record.
  Card().Time().SetAutoStep(0);
  SetSource(1, card::SourceKind::kDc, 0, 0.0);
  Instrument().RunSynchronousMeasurement();
  EXPECT_TRUE(Instrument().SyncAbandoned);
}

TEST_F(EngineTest, AutoRangingStepsAtTheNextArming) {
  struct Case {
    const char* name;
    uint16_t range;
    int32_t delta;
    long double dcLevel;
    uint16_t expected;
  };
  const Case cases[] = {
      {"up", 6, +1, 0, 7},
      {"down", 6, -1, 0, 5},
      {"up at the top stays", 12, +1, 0, 12},
      {"DC level beyond twice the full scale takes one more", 6, -1, 1.0L, 6},
      {"DC level at the top stays clamped", 12, +1, 500.0L, 12},
  };
  for (const Case& c : cases) {
    TRK350& t = Instrument();
    t.MeasurementBusy = false;
    t.AutoRanging[1] = true;
    t.RangeIndex[1] = c.range;
    t.DcLevel[1] = c.dcLevel;
    t.DcLevelLimit[1] = 1000;
    t.RangeDelta[1] = c.delta;
    t.nCalculations = 3;
    t.EngineTick();
    EXPECT_EQ(t.RangeIndex[1], c.expected) << c.name;
    EXPECT_EQ(t.DcLevelLimit[1], t.DcLevelLimits[t.RangeIndex[1]]) << c.name;
    EXPECT_EQ(t.FitHigh[1] - 0x8000, 0x8000 - t.FitLow[1]) << c.name;
  }
}

TEST_F(EngineTest, AutoRangingLeavesChannelsOutsideTheMeasureMode) {
  TRK350& t = Instrument();
  t.SetmMeasureMode(mCh2);
  t.AutoRanging[1] = t.AutoRanging[2] = true;
  t.RangeDelta[1] = +1;
  t.RangeDelta[2] = +1;
  t.EngineTick();
  EXPECT_EQ(t.RangeIndex[1], 6);
  EXPECT_EQ(t.RangeIndex[2], 7);
}

TEST_F(EngineTest, FitWindowIsCentredAndInsideTheNextRange) {
  TRK350& t = Instrument();
  for (uint16_t range = 3; range <= 12; ++range) {
    t.RangeIndex[1] = t.RangeIndex[2] = range;
    t.UpdateFitWindows();
    const int d = t.FitHigh[1] - 0x8000;
    EXPECT_GT(d, 0) << range;
    EXPECT_EQ(0x8000 - t.FitLow[1], d) << range;
    const double nextFullScale = 32768.0 * static_cast<double>(t.Sensitivities[range - 1] / t.Sensitivities[range]);
    EXPECT_LT(d, nextFullScale) << range;
  }
  t.RangeIndex[1] = 0;  // no range to compute from: the fixed window
  t.UpdateFitWindows();
  EXPECT_EQ(t.FitHigh[2], 0xB935);
  EXPECT_EQ(t.FitLow[2], 0x46CB);
}

TEST_F(EngineTest, EnablingMeasurementsStartsTheTimerAndArmsAfresh) {
  TRK350& t = Instrument();
  t.MeasurementBusy = true;
  t.SetbEnableMeasurements(true);
  EXPECT_TRUE(t.MeasureTimer->Enabled());
  EXPECT_FALSE(t.MeasurementBusy);
  t.SetbEnableMeasurements(false);
  EXPECT_FALSE(t.MeasureTimer->Enabled());
}

TEST_F(EngineTest, MeasureModeSetsActiveChannelsAndInterleaving) {
  struct Case {
    TMeasureMode mode;
    uint8_t active;
    bool interleavedAfter;
  };
  const Case cases[] = {{mNone, 0, true},  {mCh1, 1, true}, {mCh2, 2, false},
                        {mCh12, 3, false}, {mXY, 3, false}, {mCh3, 3, true}};
  for (const Case& c : cases) {
    TRK350 t(nullptr);
    t.mMeasureMode = mCh123;  // so that every case is a change
    t.ActiveChannels = 3;
    t.Interleaved = true;
    t.SetmMeasureMode(c.mode);
    EXPECT_EQ(t.ActiveChannels, c.active) << int(c.mode);
    EXPECT_EQ(t.Interleaved, c.interleavedAfter) << int(c.mode);
  }
}

TEST_F(EngineTest, NoCardMeansNoEngineWork) {
  Instrument().HardwarePresent = false;
  Recorder().SetRecording(true);
  Instrument().EngineTick();
  Instrument().StartBlockMeasurement();
  Instrument().RunSynchronousMeasurement();
  EXPECT_EQ(Recorder().Count(), 0u) << Recorder().Text();
}

}  // namespace
}  // namespace rk350::testing

// The trigger instant lands at index lPreSamples: the card's pipeline delays
// against the library's alignment table, for every trigger path and clock
// range, on the virtual card in manual time.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <ostream>

#include "tests/unit/acquisition_fixture.h"

namespace rk350::testing {
namespace {

using card::SourceKind;

struct EdgeCase {
  const char* name;
  TTrigSource source;
  TMeasureMode mode;
  int channel;  // whose data show the edge
  long double clock;
  friend void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }
};

class AlignmentTest : public AcquisitionTest, public ::testing::WithParamInterface<EdgeCase> {};

// A step from -0.4 V to +0.4 V (0.8 V full scale: codes 64 and 192) at a
// time well after the memory holds a whole record, so the record does not
// start at address 0.
TEST_P(AlignmentTest, EdgeAtTheTriggerInstantLandsAtPreSamples) {
  const EdgeCase& c = GetParam();
  SetClock(c.clock);
  SetRecord(1000, 300);
  Instrument().SetmMeasureMode(c.mode);
  Instrument().tsTriggerSource = c.source;
  Instrument().AppliedTriggerSource = c.source;
  const double period = 1.0 / static_cast<double>(c.clock);
  const double stepTime = 3000.5 * period;
  SetSource(1, SourceKind::kStep, 0.8, -0.4, 0, stepTime);
  SetSource(2, SourceKind::kStep, 0.8, -0.4, 0, stepTime);
  SetSource(0, SourceKind::kStep, 3.0, 0.0, 0, stepTime);
  MeasureOnce(6000 * period);

  const int pre = Instrument().lPreSamples;
  EXPECT_EQ(Sample(c.channel, pre), 192 << 8) << c.name;
  EXPECT_EQ(Sample(c.channel, pre - 1), 64 << 8) << c.name;
  EXPECT_EQ(Sample(c.channel, 0), 64 << 8) << c.name;
  EXPECT_EQ(Sample(c.channel, 999), 192 << 8) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    PathsAndClockRanges, AlignmentTest,
    ::testing::Values(EdgeCase{"ch1 25 MHz", tsCh1, mCh1, 1, 25e6L}, EdgeCase{"ch1 50 kHz", tsCh1, mCh1, 1, 50e3L},
                      EdgeCase{"ch1 100 kHz", tsCh1, mCh12, 1, 100e3L},
                      EdgeCase{"ch1 1 MHz both", tsCh1, mCh12, 2, 1e6L}, EdgeCase{"ch2 25 MHz", tsCh2, mCh2, 2, 25e6L},
                      EdgeCase{"ch2 10 kHz", tsCh2, mCh12, 2, 10e3L},
                      EdgeCase{"external 50 MHz", tsExternal, mCh1, 1, 50e6L},
                      EdgeCase{"external 1 kHz", tsExternal, mCh12, 1, 1e3L},
                      EdgeCase{"and 5 MHz", tsAnd, mCh12, 1, 5e6L}, EdgeCase{"or 20 kHz", tsOr, mCh12, 2, 20e3L}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return n;
    });

TEST_F(AcquisitionTest, FallingEdgeAndLevelModesTrigger) {
  struct Case {
    uint8_t mode;
    double from, to;
  };
  const Case cases[] = {{1, 0.4, -0.4}, {3, -0.4, 0.4}};
  for (const Case& c : cases) {
    SetClock(1e6L);
    SetRecord(500, 200);
    Instrument().SetmMeasureMode(mCh1);
    Instrument().TriggerMode[1] = c.mode;
    const double stepTime = Card().Time().Now() + 2000.5e-6;
    SetSource(1, SourceKind::kStep, c.to - c.from, c.from, 0, stepTime);
    MeasureOnce(4000e-6);
    const int pre = Instrument().lPreSamples;
    const auto high = static_cast<uint16_t>(std::lround(128 + c.to * 160) << 8);
    EXPECT_EQ(Sample(1, pre), high) << int(c.mode);
    EXPECT_NE(Sample(1, pre - 1), high) << int(c.mode);
  }
}

TEST_F(AcquisitionTest, RecordThatStartsAtAddressZeroIsShiftedAsDocumented) {
  // The edge comes before the memory holds a whole record: the record starts
  // at address 0, its first positions stay unmeasured, and the trigger lands
  // one position late for the comparator paths above 100 kHz, exactly for
  // the external input.
  struct Case {
    TTrigSource source;
    int shift;
  };
  for (const Case c : {Case{tsCh1, 1}, Case{tsExternal, 0}}) {
    SetClock(25e6L);
    SetRecord(1000, 300);
    Instrument().SetmMeasureMode(mCh1);
    Instrument().tsTriggerSource = c.source;
    Instrument().AppliedTriggerSource = c.source;
    const double period = 40e-9;
    SetSource(1, SourceKind::kStep, 0.8, -0.4, 0, Card().Time().Now() + 400.5 * period);
    SetSource(0, SourceKind::kStep, 3.0, 0.0, 0, Card().Time().Now() + 400.5 * period);
    MeasureOnce(2000 * period);
    const int pre = Instrument().lPreSamples;
    EXPECT_EQ(Sample(1, pre + c.shift), 192 << 8) << int(c.source);
    EXPECT_EQ(Sample(1, pre + c.shift - 1), 64 << 8) << int(c.source);
    EXPECT_EQ(Sample(1, 0), 0x8000) << int(c.source);
  }
}

TEST_F(AcquisitionTest, OneHertzFullRecordIsComputedNotWaitedFor) {
  SetClock(1.0L);
  SetRecord(65520, 32760);
  Instrument().SetmMeasureMode(mCh12);
  SetSource(1, SourceKind::kStep, 0.8, -0.4, 0, 40000.5);
  SetSource(2, SourceKind::kDc, 0, 0.2);
  MeasureOnce(120000);  // card time: a day and a half, stepped at once
  const double rate = static_cast<double>(Instrument().ClockFrequency);
  EXPECT_NEAR(rate, 0.9999616, 1e-7);
  const int pre = Instrument().lPreSamples;
  EXPECT_EQ(Sample(1, pre), 192 << 8);
  EXPECT_EQ(Sample(1, pre - 1), 64 << 8);
  EXPECT_EQ(Sample(2, 12345), 160 << 8);
  // Far fewer samples computed than the hours of card time would hold.
  EXPECT_LT(Card().Acquisition().SamplesEvaluated(), 600000u);
}

TEST_F(AcquisitionTest, ForcedTriggerCompletesARecordWithoutTrigger) {
  SetClock(10e6L);
  SetRecord(512, 256);
  Instrument().SetmMeasureMode(mCh1);
  SetSource(1, SourceKind::kDc, 0, 0.1);
  Instrument().ArmMeasurement();
  Card().Time().Advance(0.01);
  EXPECT_FALSE(Instrument().RecordComplete());
  EXPECT_EQ(Instrument().TriggerStatus(), 0u);
  Instrument().ForceTrigger();
  Card().Time().Advance(1e-3);
  EXPECT_TRUE(Instrument().RecordComplete());
  Instrument().ReadMeasurement();
  EXPECT_EQ(Sample(1, 0), 144 << 8);
  EXPECT_EQ(Sample(1, 511), 144 << 8);
}

TEST_F(AcquisitionTest, AndTriggerNeedsBothChannels) {
  SetClock(1e6L);
  SetRecord(200, 100);
  Instrument().SetmMeasureMode(mCh12);
  Instrument().tsTriggerSource = tsAnd;
  Instrument().AppliedTriggerSource = tsAnd;
  SetSource(1, SourceKind::kStep, 0.8, -0.4, 0, 500.5e-6);
  SetSource(2, SourceKind::kStep, 0.8, -0.4, 0, 900.5e-6);
  Instrument().ArmMeasurement();
  Card().Time().Advance(700e-6);
  EXPECT_EQ(Instrument().TriggerStatus(), 0x02u);
  Card().Time().Advance(300e-6);
  EXPECT_EQ(Instrument().TriggerStatus(), 0x06u);
  Card().Time().Advance(1e-3);
  ASSERT_TRUE(Instrument().RecordComplete());
  Instrument().ReadMeasurement();
  EXPECT_EQ(Sample(2, 100), 192 << 8);
  EXPECT_EQ(Sample(2, 99), 64 << 8);
}

TEST_F(AcquisitionTest, HysteresisKeepsNoiseBelowItFromTriggering) {
  // Noise of +/- 5 counts around the level never arms a rising trigger with
  // hysteresis 10; a later clean edge does.
  SetClock(1e6L);
  SetRecord(200, 100);
  Instrument().SetmMeasureMode(mCh1);
  card::SignalSource noisy;
  noisy.kind = SourceKind::kNoise;
  noisy.amplitude = 5 * 0.8 / 128;
  Card().Sources().Set(1, noisy);
  Instrument().ArmMeasurement();
  Card().Time().Advance(0.05);
  EXPECT_TRUE(Card().Acquisition().Running());
  EXPECT_EQ(Instrument().TriggerStatus(), 0u);
}

TEST_F(AcquisitionTest, FreeRunningRecordStartsAtOnce) {
  SetClock(25e6L);
  SetRecord(512, 256);
  Instrument().SetmMeasureMode(mCh1);
  Instrument().tsTriggerSource = tsNoTrig;
  Instrument().AppliedTriggerSource = tsNoTrig;
  SetSource(1, SourceKind::kDc, 0, -0.2);
  Instrument().ArmMeasurement();
  Card().Time().Advance(20e-6);
  ASSERT_TRUE(Instrument().RecordComplete());
  Instrument().ReadMeasurement();
  // Fewer samples than the record: they fill its end, the start stays empty.
  EXPECT_EQ(Sample(1, 0), 0x8000);
  EXPECT_EQ(Sample(1, 511), 96 << 8);
}

TEST_F(AcquisitionTest, InterleavedSineHasNoOddEvenArtefact) {
  // Both converters on input 1 (the front end routes it; here both inputs
  // carry the same sine), half a period apart: 100 MHz overall.
  SetClock(50e6L);
  Instrument().Interleaved = true;
  Instrument().SetmMeasureMode(mCh1);
  Instrument().Interleaved = true;
  SetRecord(4096, 2048);
  const double f = 3.1e6, amplitude = 0.6;
  for (int input = 1; input <= 2; ++input) {
    card::SignalSource s;
    s.kind = SourceKind::kSine;
    s.amplitude = amplitude;
    s.frequency = f;
    Card().Sources().Set(input, s);
  }
  // Triggered by force once the memory has filled, so that the record
  // does not start at address 0.
  Instrument().TriggerLevel[1] = 250;
  Instrument().ArmMeasurement();
  Card().Time().Advance(2e-3);
  Instrument().ForceTrigger();
  Card().Time().Advance(1e-3);
  ASSERT_TRUE(Instrument().RecordComplete());
  Instrument().ReadMeasurement();
  // Fit the samples against the sine on a 10 ns grid; odd and even samples
  // must fit alike.
  double errorOdd = 0, errorEven = 0, maxError = 0;
  const int pre = Instrument().lPreSamples;
  const uint16_t* d = Instrument().ChannelData[1].get();
  // Phase from the trigger: the rising crossing of 0 V sits near index pre.
  double best = 1e9, phase0 = 0;
  for (int step = 0; step < 2000; ++step) {
    const double phase = step * 2 * std::numbers::pi / 2000;
    double e = 0;
    for (int i = 1; i < 4000; i += 7) {
      const double v = (static_cast<int>(d[i]) - 0x8000) * 0.8 / 32768;
      const double model = amplitude * std::sin(2 * std::numbers::pi * f * (i - pre) * 10e-9 + phase);
      e += (v - model) * (v - model);
    }
    if (e < best) {
      best = e;
      phase0 = phase;
    }
  }
  for (int i = 1; i < 4000; ++i) {
    const double v = (static_cast<int>(d[i]) - 0x8000) * 0.8 / 32768;
    const double model = amplitude * std::sin(2 * std::numbers::pi * f * (i - pre) * 10e-9 + phase0);
    const double e = std::fabs(v - model);
    (i % 2 ? errorOdd : errorEven) += e;
    maxError = std::max(maxError, e);
  }
  const double lsb = 0.8 / 128;
  EXPECT_LT(maxError, 1.5 * lsb);
  EXPECT_NEAR(errorOdd / 2000, errorEven / 2000, 0.2 * lsb);
}

}  // namespace
}  // namespace rk350::testing

// What a record holds: the readout's span of positions filled with samples
// the card took, checked against the samples themselves. The inputs carry a
// ramp (converter codes 130 .. 229, one step per sample), so the positions
// holding this acquisition's samples in their place are exactly the longest
// run of consecutive ramp codes; unsampled positions read 0x8000 (code 128)
// or memory the acquisition did not write.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/acquisition_fixture.h"

namespace rk350::testing {
namespace {

constexpr int kRampLow = 130, kRampSteps = 100;

// Volts for converter code c on the 0.8 V range: (c - 128) / 128 * 0.8.
double VoltsOfCode(int code) { return (code - 128) * 0.8 / 128; }

bool IsRamp(uint16_t raw) {
  const int code = raw >> 8;
  return (raw & 0xFF) == 0 && code >= kRampLow && code < kRampLow + kRampSteps;
}
bool Follows(uint16_t before, uint16_t after) {
  return IsRamp(before) && IsRamp(after) && ((before >> 8) - kRampLow + 1) % kRampSteps == (after >> 8) - kRampLow;
}

// The longest run of positions whose samples follow each other on the ramp.
TRK350::Span RampRun(const uint16_t* data, int32_t length) {
  TRK350::Span best;
  int32_t k = 0;
  while (k < length) {
    if (!IsRamp(data[k])) {
      ++k;
      continue;
    }
    int32_t end = k + 1;
    while (end < length && Follows(data[end - 1], data[end])) ++end;
    if (end - k > best.count) best = {k, end - k};
    k = end;
  }
  return best;
}

struct HeldCase {
  const char* name;
  TTrigSource source;
  TMeasureMode mode;
  long double clock;
  int32_t length, post;
  double triggerAt;  // in samples after arming; < 0: forced at -triggerAt
  bool interleaved = false;
  friend void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }
};

class HeldSpanTest : public AcquisitionTest, public ::testing::WithParamInterface<HeldCase> {
 protected:
  // Ramp samples on inputs 1 and 2, one per sample (per half sample when
  // interleaved), each sample time in the middle of its interval.
  void FeedRamps(double samplePeriod, int count) {
    std::vector<double> volts(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) volts[k] = VoltsOfCode(kRampLow + k % kRampSteps);
    const double start = Card().Time().Now() - samplePeriod / 2;
    for (int input = 1; input <= 2; ++input)
      Card().Sources().SetSamples(input, volts.data(), static_cast<uint32_t>(count), samplePeriod, start, true);
  }
};

TEST_P(HeldSpanTest, SpanIsExactlyThePositionsHoldingThisAcquisitionsSamples) {
  const HeldCase& c = GetParam();
  SetClock(c.clock);
  Instrument().SetmMeasureMode(c.mode);
  Instrument().Interleaved = c.interleaved;
  SetRecord(c.length, c.post);
  Instrument().tsTriggerSource = c.source;
  Instrument().AppliedTriggerSource = c.source;
  // Trigger level out of the ramp's reach: only the external input or the
  // forcing triggers.
  Instrument().TriggerLevel[1] = Instrument().TriggerLevel[2] = 250;
  const double period = 1.0 / static_cast<double>(c.clock);
  FeedRamps(c.interleaved ? period / 2 : period, kRampSteps);
  if (c.source == tsExternal && c.triggerAt >= 0)
    SetSource(0, card::SourceKind::kStep, 3.0, 0.0, 0, Card().Time().Now() + (c.triggerAt + 0.5) * period);

  Instrument().ArmMeasurement();
  if (c.triggerAt < 0) {
    Card().Time().Advance(-c.triggerAt * period);
    Instrument().ForceTrigger();
  }
  Card().Time().Advance((c.length + 70000.0) * period);
  ASSERT_TRUE(Instrument().RecordComplete());
  Instrument().ReadMeasurement();

  const int channel = c.mode == mCh2 ? 2 : 1;
  const TRK350::Span truth = RampRun(Instrument().ChannelData[channel].get(), c.length);
  const TRK350::Span held = Instrument().Held[channel];
  EXPECT_EQ(held.first, truth.first) << c.name;
  EXPECT_EQ(held.count, truth.count) << c.name;
  EXPECT_GT(held.count, 0) << c.name;
}

// Early triggers come before the pre-trigger samples are taken; late ones
// after the memory holds a whole record (some after it wrapped around).
INSTANTIATE_TEST_SUITE_P(
    TriggerPathsAndTimes, HeldSpanTest,
    ::testing::Values(HeldCase{"external early 25 MHz", tsExternal, mCh1, 25e6L, 1000, 300, 200},
                      HeldCase{"external early 50 kHz", tsExternal, mCh12, 50e3L, 1000, 300, 200},
                      HeldCase{"external late 25 MHz", tsExternal, mCh1, 25e6L, 1000, 300, 3000},
                      HeldCase{"external late wrapped", tsExternal, mCh2, 10e6L, 1000, 300, 70000},
                      HeldCase{"forced early", tsCh1, mCh1, 5e6L, 2000, 500, -300},
                      HeldCase{"forced early slow", tsCh2, mCh12, 20e3L, 2000, 500, -300},
                      HeldCase{"forced late", tsCh1, mCh12, 5e6L, 2000, 500, -5000},
                      HeldCase{"forced late full memory", tsCh1, mCh1, 50e6L, 65520, 100, -70000},
                      HeldCase{"forced just before the record fills", tsCh1, mCh1, 1e6L, 1000, 300, -690},
                      HeldCase{"free run", tsNoTrig, mCh1, 25e6L, 1000, 1000, 0},
                      HeldCase{"free run slow", tsNoTrig, mCh12, 10e3L, 500, 500, 0},
                      HeldCase{"free run with pre-trigger", tsNoTrig, mCh1, 25e6L, 1000, 600, 0},
                      HeldCase{"interleaved early", tsExternal, mCh1, 50e6L, 1000, 300, 100, true},
                      HeldCase{"interleaved late", tsCh1, mCh1, 50e6L, 1001, 300, -4000, true},
                      HeldCase{"interleaved free run", tsNoTrig, mCh1, 50e6L, 1000, 1000, 0, true}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return n;
    });

TEST_F(AcquisitionTest, FreeRunningRecordHoldsEveryPosition) {
  // Free run with every sample after the trigger: the record's last position
  // holds the last sample like every other.
  for (const long double clock : {50e6L, 1e6L, 10e3L}) {
    SetClock(clock);
    Instrument().SetmMeasureMode(mCh12);
    SetRecord(777, 777);
    Instrument().tsTriggerSource = tsNoTrig;
    Instrument().AppliedTriggerSource = tsNoTrig;
    SetSource(1, card::SourceKind::kDc, 0, 0.5);
    SetSource(2, card::SourceKind::kDc, 0, -0.25);
    MeasureOnce(2000 / static_cast<double>(clock));
    for (int k = 0; k < 777; ++k) {
      ASSERT_EQ(Sample(1, k), 208 << 8) << static_cast<double>(clock) << " " << k;
      ASSERT_EQ(Sample(2, k), 88 << 8) << static_cast<double>(clock) << " " << k;
    }
    EXPECT_EQ(Instrument().Held[1].first, 0);
    EXPECT_EQ(Instrument().Held[1].count, 777);
  }
}

TEST_F(AcquisitionTest, OverrangeLooksAtHeldSamplesOnly) {
  // A clipped input overranges; unsampled positions (0x8000) never do, and a
  // channel that was not read holds nothing.
  SetClock(1e6L);
  Instrument().SetmMeasureMode(mCh1);
  SetRecord(1000, 1000);
  Instrument().tsTriggerSource = tsNoTrig;
  Instrument().AppliedTriggerSource = tsNoTrig;
  SetSource(1, card::SourceKind::kDc, 0, 2.0);
  MeasureOnce(3e-3);
  EXPECT_TRUE(Instrument().HeldOverrange[1]);
  EXPECT_EQ(Instrument().Held[2].count, 0);
  SetSource(1, card::SourceKind::kDc, 0, 0.3);
  MeasureOnce(3e-3);
  EXPECT_FALSE(Instrument().HeldOverrange[1]);
}

}  // namespace
}  // namespace rk350::testing

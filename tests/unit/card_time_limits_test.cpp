// The virtual card at any time a host can set: card time stays a finite
// number, the models compute without undefined behaviour at the far ends of
// the clock, and a status read after any jump in time costs a bounded search.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/generator_calibration.h"
#include "tests/unit/acquisition_fixture.h"

namespace rk350::testing {
namespace {

using card::SourceKind;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

TEST(CardTime, StaysAFiniteNumberWhateverIsAsked) {
  struct Case {
    const char* what;
    void (*apply)(card::VirtualTime&);
    double expected;
  };
  const Case cases[] = {
      {"manual NaN is ignored", [](card::VirtualTime& t) { t.SetManual(kNaN); }, 5},
      {"manual +inf stops at the largest time", [](card::VirtualTime& t) { t.SetManual(kInf); }, kMax},
      {"manual -inf stops at the earliest time", [](card::VirtualTime& t) { t.SetManual(-kInf); }, -kMax},
      {"advance by NaN is ignored", [](card::VirtualTime& t) { t.Advance(kNaN); }, 5},
      {"advance by +inf", [](card::VirtualTime& t) { t.Advance(kInf); }, kMax},
      {"advance past the end", [](card::VirtualTime& t) { t.SetManual(kMax), t.Advance(kMax); }, kMax},
      {"auto step 1e308 twice",
       [](card::VirtualTime& t) {
         t.SetAutoStep(1e308);
         t.OnStatusPoll();
         t.OnStatusPoll();
       },
       kMax},
      {"auto step +inf",
       [](card::VirtualTime& t) {
         t.SetAutoStep(kInf);
         t.OnStatusPoll();
       },
       kMax},
      {"auto step NaN is off",
       [](card::VirtualTime& t) {
         t.SetAutoStep(kNaN);
         t.OnStatusPoll();
       },
       5},
  };
  for (const Case& c : cases) {
    card::VirtualTime time;
    time.SetManual(5);
    c.apply(time);
    EXPECT_EQ(time.Now(), c.expected) << c.what;
  }
  // Following the host clock after a jump to the end stays finite too.
  card::VirtualTime host;
  host.Advance(kInf);
  EXPECT_TRUE(std::isfinite(host.Now()));
}

// Every trigger path armed and read back at the far ends of card time (the
// sanitizer build catches any conversion out of range on the way).
TEST_F(AcquisitionTest, RecordsAtTheFarEndsOfCardTimeComplete) {
  const double starts[] = {1e300, -kMax, -1e300, 1e15};
  for (const double start : starts) {
    for (const TTrigSource source : {tsCh1, tsCh2, tsExternal, tsNoTrig}) {
      Card().Time().SetManual(start);
      SetClock(50e6L);
      SetRecord(512, 256);
      Instrument().SetmMeasureMode(mCh12);
      Instrument().tsTriggerSource = source;
      Instrument().AppliedTriggerSource = source;
      SetSource(1, SourceKind::kSine, 0.3, 0, 1e3);
      SetSource(2, SourceKind::kNoise, 0.3);
      Instrument().ArmMeasurement();
      Card().Time().Advance(1.0);
      Instrument().ForceTrigger();
      Card().Time().Advance(1e300);
      EXPECT_TRUE(Instrument().RecordComplete()) << start << " source " << int(source);
      Instrument().ReadMeasurement();
    }
  }
}

// At the largest time the clock stands still: an armed record waits, and
// the card keeps answering.
TEST_F(AcquisitionTest, AtTheEndOfCardTimeTheClockStandsStill) {
  Card().Time().SetManual(kMax);
  SetClock(50e6L);
  SetRecord(512, 256);
  Instrument().ArmMeasurement();
  Instrument().ForceTrigger();
  Card().Time().Advance(1e300);
  EXPECT_EQ(Card().Time().Now(), kMax);
  EXPECT_TRUE(Card().Acquisition().Running());
  EXPECT_FALSE(Instrument().RecordComplete());
}

// A status read after card time jumped on, waiting on a quiet input: the
// search doubles its stretches, so the work does not grow with the jump.
TEST_F(AcquisitionTest, StatusReadAfterAnyJumpCostsABoundedSearch) {
  const double jumps[] = {1.0, 1e3, 1e4, 5e7, 1e300, kInf};
  for (const double jump : jumps) {
    Card().Time().SetManual(0);
    SetClock(50e6L);
    SetRecord(512, 256);
    Instrument().SetmMeasureMode(mCh1);
    Instrument().tsTriggerSource = tsCh1;
    Instrument().AppliedTriggerSource = tsCh1;
    SetSource(1, SourceKind::kDc, 0, 0.1);
    Instrument().ArmMeasurement();
    const uint64_t checks = Card().Acquisition().BoundChecks();
    const uint64_t samples = Card().Acquisition().SamplesEvaluated();
    Card().Time().Advance(jump);
    EXPECT_TRUE(Card().Acquisition().Running()) << jump;
    EXPECT_LT(Card().Acquisition().BoundChecks() - checks, 200u) << jump;
    EXPECT_EQ(Card().Acquisition().SamplesEvaluated() - samples, 0u) << jump;
    Instrument().ForceTrigger();
    Card().Time().Advance(1e-3);
    EXPECT_TRUE(Instrument().RecordComplete()) << jump;
  }
}

// A trigger deep inside a long jump is still found where it is: the search
// narrows its stretch around the step instead of skipping it.
TEST_F(AcquisitionTest, StepDeepInsideALongJumpTriggersWhereItIs) {
  SetClock(1e6L);
  SetRecord(1000, 300);
  Instrument().SetmMeasureMode(mCh1);
  const double stepTime = 12345.6789005;  // hours of card time in
  SetSource(1, SourceKind::kStep, 0.8, -0.4, 0, stepTime);
  MeasureOnce(1e5);
  EXPECT_NEAR(static_cast<double>(Card().Acquisition().TriggerIndex()) / 1e6, stepTime, 2e-6);
  EXPECT_LT(Card().Acquisition().BoundChecks(), 1000u);
  const int pre = Instrument().lPreSamples;
  EXPECT_EQ(Sample(1, pre), 192 << 8);
  EXPECT_EQ(Sample(1, pre - 1), 64 << 8);
}

class GeneratorAtLateTimes : public ::testing::Test {
 protected:
  GeneratorAtLateTimes() { LoadGeneratorCalibration(instrument, card::EepromImage::Default()); }
  RecordedBus bus;
  TRK350 instrument{nullptr};
};

TEST_F(GeneratorAtLateTimes, OutputStaysWithinItsSwingAtAnyTime) {
  instrument.SetGenFrequency(1000.0L);
  instrument.SetGenAmplitude(1.0L);
  instrument.SetGenDCOffset(0.5L);
  instrument.SetGenOutputOn(true);
  const card::GeneratorModel& model = bus.Card().Generator();
  for (const double t : {1e300, kMax, kInf, -kInf, kNaN, -1e300, 1e19, 3.7e18}) {
    const double v = model.OutputVolts(t);
    EXPECT_GE(v, -0.501) << t;
    EXPECT_LE(v, 1.501) << t;
  }
}

}  // namespace
}  // namespace rk350::testing

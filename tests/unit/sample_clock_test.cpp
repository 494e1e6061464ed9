// The sample clock: the register values of ProgramSampleClock, the rates a
// request reaches, what the card's clock then runs at, and the record
// geometry.
#include "instrument/sample_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "input_test_support.h"

namespace rk350 {
namespace {

using testing::CalibratedInstrument;

struct ClockCase {
  long double request;
  long double reached;
  const char* traffic;
};

class ProgramSampleClockCase : public CalibratedInstrument, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(ProgramSampleClockCase, WritesTheClockRegistersAndReturnsTheRate) {
  long double f = GetParam().request;
  In().ProgramSampleClock(f);
  EXPECT_EQ(f, GetParam().reached);
  EXPECT_EQ(bus.Recorder().Text(), GetParam().traffic);
  EXPECT_DOUBLE_EQ(bus.Card().SampleClock().ConverterClockHz(), static_cast<double>(GetParam().reached));
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, ProgramSampleClockCase,
    ::testing::Values(
        ClockCase{30e6L, 50e6L, "reg 8 = 0x06\nreg 5 = 0x0F\n"},
        ClockCase{25e6L, 25e6L, "reg 8 = 0x06\nreg 5 = 0x10\n"},
        ClockCase{12.5e6L, 10e6L, "reg 8 = 0x06\nreg 5 = 0x11\n"},  // not above B/4
        ClockCase{10e6L, 10e6L, "reg 8 = 0x06\nreg 5 = 0x11\n"}, ClockCase{5e6L, 5e6L, "reg 8 = 0x06\nreg 5 = 0x12\n"},
        ClockCase{1e6L, 1e6L, "reg 5 = 0x21\nreg 6 = 0xFC\nreg 7 = 0xFF\nreg 4 = 0x01\nreg 4 = 0x00\nreg 8 = 0x06\n"},
        ClockCase{1000.0L, 1000.0L,
                  "reg 5 = 0x31\nreg 6 = 0x79\nreg 7 = 0xEC\nreg 4 = 0x01\nreg 4 = 0x00\nreg 8 = 0x14\n"},
        ClockCase{100.0L, 100.0L,
                  "reg 5 = 0x33\nreg 6 = 0x2D\nreg 7 = 0xCF\nreg 4 = 0x01\nreg 4 = 0x00\nreg 8 = 0x14\n"},
        ClockCase{3e6L, 2.5e6L, "reg 5 = 0x21\nreg 6 = 0xFF\nreg 7 = 0xFF\nreg 4 = 0x01\nreg 4 = 0x00\nreg 8 = 0x06\n"},
        // N = 1: the reload wraps to 0, which the card's counter takes as 1.
        ClockCase{4.9e6L, 5e6L, "reg 5 = 0x21\nreg 6 = 0x00\nreg 7 = 0x00\nreg 4 = 0x01\nreg 4 = 0x00\nreg 8 = 0x06\n"},
        // 100 kHz exactly runs in the slow counter mode.
        ClockCase{100e3L, 100e3L,
                  "reg 5 = 0x31\nreg 6 = 0xCF\nreg 7 = 0xFF\nreg 4 = 0x01\nreg 4 = 0x00\nreg 8 = 0x14\n"}));

TEST_F(CalibratedInstrument, InterleavedFixedRatesUseClockModeTwo) {
  In().Interleaved = true;
  long double f = 30e6L;
  In().ProgramSampleClock(f);
  EXPECT_EQ(bus.Recorder().Text(), "reg 8 = 0x02\nreg 5 = 0x0F\n");
  EXPECT_EQ(gClockMode, 2);
  EXPECT_EQ(gClockSelect, 0x0F);
}

TEST_F(CalibratedInstrument, SlowestRateUsesTheLastPrescalerAndTheWholeDivider) {
  long double f = sample_clock::kMinRate;
  In().ProgramSampleClock(f);
  EXPECT_EQ(bus.Recorder().RegisterWrites(5), std::vector<uint8_t>{0x3F});
  EXPECT_EQ(bus.Recorder().RegisterWrites(6), std::vector<uint8_t>{0x02});  // divider 65535
  EXPECT_EQ(bus.Recorder().RegisterWrites(7), std::vector<uint8_t>{0x00});
  EXPECT_EQ(bus.Card().SampleClock().CounterDivider(), 65535u);
  EXPECT_NEAR(f, 1.1368e-6L, 1e-10L);
}

TEST_F(CalibratedInstrument, ClockRequestsBelowTheSlowestRateAreLimitedToIt) {
  for (long double bad : {1e-9L, -5.0L, std::numeric_limits<long double>::quiet_NaN()}) {
    long double f = bad;
    In().ProgramSampleClock(f);
    EXPECT_EQ(f, sample_clock::kMinRate);
  }
}

struct RateCase {
  long double request;
  long double reached;
};

class RatesReached : public CalibratedInstrument, public ::testing::WithParamInterface<RateCase> {};

TEST_P(RatesReached, RequestSnapsToTheRateTheCardRuns) {
  In().SetrSampleFreq(GetParam().request);
  EXPECT_EQ(In().GetrSampleFreq(), GetParam().reached);
  EXPECT_FALSE(In().Interleaved);
  EXPECT_NEAR(bus.Card().SampleClock().ConverterClockHz() / static_cast<double>(GetParam().reached), 1.0, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(WorkedRequests, RatesReached,
                         ::testing::Values(RateCase{60e6L, 50e6L}, RateCase{13e6L, 25e6L}, RateCase{12e6L, 10e6L},
                                           RateCase{9.9e6L, 5e6L}, RateCase{4.9e6L, 5e6L}, RateCase{3e6L, 2.5e6L},
                                           RateCase{1e6L, 1e6L}, RateCase{100.0L, 100.0L},
                                           RateCase{1.0L, 25e6L / 5120 / 4883},  // 0.9999616 Hz
                                           RateCase{333.0L, 25e6L / 5 / 15015}));

TEST_F(CalibratedInstrument, InterleaveCapableCardDoublesAbove50MHzWithoutWriting) {
  In().InterleaveCapable = true;
  In().SetmMeasureMode(mCh1);
  In().SetrSampleFreq(60e6L);
  EXPECT_TRUE(In().Interleaved);
  EXPECT_EQ(In().ClockFrequency, 50e6L);
  EXPECT_EQ(In().GetrSampleFreq(), 100e6L);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  In().SetrSampleFreq(20e6L);  // back below: one converter again
  EXPECT_FALSE(In().Interleaved);
  EXPECT_EQ(In().GetrSampleFreq(), 25e6L);
}

TEST_F(CalibratedInstrument, RepeatedRequestIsIgnoredUnlessTheRateDiffered) {
  In().SetrSampleFreq(1e6L);
  bus.Recorder().Clear();
  In().nCalculations = 4;
  In().SetrSampleFreq(1e6L);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_EQ(In().nCalculations, 4);

  In().SetrSampleFreq(3e6L);
  EXPECT_EQ(In().SampleFreqRequested, 2.5e6L);
  bus.Recorder().Clear();
  In().SetrSampleFreq(3e6L);  // the request stored was 2.5 MHz
  EXPECT_GT(bus.Recorder().Count(), 0u);
}

TEST_F(CalibratedInstrument, UnprogrammableRequestsChangeNothing) {
  In().SetrSampleFreq(1e6L);
  bus.Recorder().Clear();
  In().SettingsDirty = false;
  for (long double bad : {0.0L, -0.0L, -1e6L, -1e-9L, 1e-7L, std::numeric_limits<long double>::quiet_NaN(),
                          -std::numeric_limits<long double>::infinity()}) {
    In().SetrSampleFreq(bad);
  }
  EXPECT_EQ(In().GetrSampleFreq(), 1e6L);
  EXPECT_EQ(In().SampleFreqRequested, 1e6L);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_FALSE(In().SettingsDirty);
}

TEST(SampleClockConstruction, ConstructorProgramsTwentyFiveMegahertz) {
  testing::RecordedBus bus;
  TRK350 in(nullptr);
  EXPECT_EQ(bus.Recorder().Text(), "reg 8 = 0x06\nreg 5 = 0x10\n");
  EXPECT_EQ(in.GetrSampleFreq(), 25e6L);
  EXPECT_EQ(in.lRecordLength, 512);
  EXPECT_EQ(in.lPreSamples, 256);
  EXPECT_EQ(in.lPostSamples, 256);
}

TEST_F(CalibratedInstrument, PostTriggerCounterLowByteFirstAndNeverZero) {
  In().LoadPostTriggerCounter(0);
  In().LoadPostTriggerCounter(0x1234);
  EXPECT_EQ(bus.Recorder().Text(), "reg 26 = 0x01\nreg 27 = 0x00\nreg 26 = 0x34\nreg 27 = 0x12\n");
}

TEST_F(CalibratedInstrument, RecordGeometryKeepsPreSamplesTheRest) {
  In().SetlRecordLength(1000);
  EXPECT_EQ(In().lPreSamples, 744);
  In().SetlPostSamples(1000);
  EXPECT_EQ(In().lPreSamples, 0);
  In().SetlRecordLength(100);
  EXPECT_EQ(In().lPreSamples, -900);  // stored as such; the exports check limits
  In().lPreSamples = 5;               // inconsistent on purpose
  In().SetlRecordLength(100);
  EXPECT_EQ(In().lPreSamples, 5);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(CalibratedInstrument, TransSampleTimeIsStoredWithoutNotification) {
  In().SettingsDirty = false;
  In().SetrTransSampleTime(0.25L);
  EXPECT_EQ(In().rTransSampleTime, 0.25L);
  EXPECT_FALSE(In().SettingsDirty);
}

}  // namespace
}  // namespace rk350

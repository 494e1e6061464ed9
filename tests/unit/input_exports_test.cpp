// Input and timebase exports on an instrument whose card was found: their
// checks in order, the conversions, and what they store.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "input_test_support.h"
#include "rk350/rk350.h"

namespace rk350 {
namespace {

using testing::ExportsOnInstrument;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(InputExportsWithoutCard, EveryExportAnswersNoInstrument) {
  testing::ResetLibraryToLoaded();
  double d = 1;
  uint8_t b = 0;
  uint16_t w = 0;
  uint32_t u = 1234;
  double d20[20] = {};
  const std::function<uint16_t()> calls[] = {
      [&] { return GetAvailableSensitivities(d20); },
      [&] { return GetAvailableResolutions(d20); },
      [&] { return GetSensitivity(1, &d); },
      [&] { return SetSensitivity(1, &d); },
      [&] { return GetAutoRanging(1, &b); },
      [&] { return SetAutoRanging(1, 0); },
      [&] { return GetCoupling(1, &b); },
      [&] { return SetCoupling(1, 0); },
      [&] { return GetDcLevel(1, &d); },
      [&] { return SetDcLevel(1, 0); },
      [&] { return GetResolution(&b); },
      [&] { return SetResolution(8); },
      [&] { return SetSampleFrequencyF(&d); },
      [&] { return SetSampleFrequency(&u); },
      [&] { return GetExternalClock(&w); },
      [&] { return SetExternalClock(0); },
      [&] { return GetInstrumentConfig(&w); },
      [&] { return SetInstrumentConfig(0); },
      [&] { return GetTriggerSource(&b); },
      [&] { return SetTriggerSource(0); },
      [&] { return GetTriggerMode(&b); },
      [&] { return SetTriggerMode(0); },
      [&] { return GetTriggerModeCh(1, &b); },
      [&] { return SetTriggerModeCh(1, 0); },
      [&] { return GetTriggerLevel(1, &d); },
      [&] { return SetTriggerLevel(1, 0); },
      [&] { return GetTriggerHys(1, &d); },
      [&] { return SetTriggerHys(1, 0); },
      [&] { return GetPXITriggerSlopes(&b); },
      [&] { return SetPXITriggerSlopes(0); },
      [&] { return GetPXITriggerEnables(&b); },
      [&] { return SetPXITriggerEnables(0); },
      [&] { return SetTriggerTimeOut(5); },
  };
  for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), ResultNoInstrument) << "call " << i;
  EXPECT_EQ(d, 1.0);
  EXPECT_EQ(u, 1234u);  // written back unchanged
  EXPECT_EQ(GetSampleFrequencyF(), 0.0);
  EXPECT_EQ(GetSampleFrequency(), 0u);
  EXPECT_EQ(GetTriggerTimeOut(), 1);
}

TEST_F(ExportsOnInstrument, AvailableSensitivitiesFillExactlyTwentyLargestFirst) {
  double values[22];
  for (double& v : values) v = -1;
  ASSERT_EQ(GetAvailableSensitivities(values), ResultOk);
  const double expected[20] = {80, 40, 20, 8, 4, 2, 0.8, 0.4, 0.2, 0.1};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(values[i], expected[i]) << i;
  EXPECT_EQ(values[20], -1);
  EXPECT_EQ(values[21], -1);
}

TEST_F(ExportsOnInstrument, AvailableResolutionsIsEightThenZeros) {
  double values[21];
  for (double& v : values) v = -1;
  ASSERT_EQ(GetAvailableResolutions(values), ResultOk);
  EXPECT_EQ(values[0], 8);
  for (int i = 1; i < 20; ++i) EXPECT_EQ(values[i], 0) << i;
  EXPECT_EQ(values[20], -1);
}

TEST_F(ExportsOnInstrument, SetSensitivityAnswersTheChosenRangeAndItsVoltFactor) {
  double value = 3.0;
  ASSERT_EQ(SetSensitivity(1, &value), ResultOk);
  EXPECT_EQ(value, 2.0);
  EXPECT_EQ(gVoltFactor[1], 2.0 / 32768);
  EXPECT_EQ(In().RangeIndex[1], 7);

  for (uint8_t bad : {0, 3, 255}) {
    value = 3.0;
    EXPECT_EQ(SetSensitivity(bad, &value), ResultInvalidChannel);
    EXPECT_EQ(value, 3.0);
  }
  EXPECT_EQ(SetSensitivity(1, nullptr), ResultInvalidValue);
  value = kNaN;
  EXPECT_EQ(SetSensitivity(1, &value), ResultInvalidValue);
  EXPECT_TRUE(std::isnan(value));
  EXPECT_EQ(In().RangeIndex[1], 7);
}

TEST_F(ExportsOnInstrument, GetSensitivityRefreshesTheVoltFactor) {
  In().SetChSensitivity(2, 20.0L);
  double value = 0;
  ASSERT_EQ(GetSensitivity(2, &value), ResultOk);
  EXPECT_EQ(value, 20.0);
  EXPECT_EQ(gVoltFactor[2], 20.0 / 32768);
}

TEST_F(ExportsOnInstrument, FlagsAndCodesAreZeroOrOne) {
  EXPECT_EQ(SetAutoRanging(1, 2), ResultInvalidValue);
  EXPECT_EQ(SetAutoRanging(0, 2), ResultInvalidChannel);  // channel first
  EXPECT_EQ(SetCoupling(2, 2), ResultInvalidValue);
  ASSERT_EQ(SetAutoRanging(2, 1), ResultOk);
  ASSERT_EQ(SetCoupling(2, 1), ResultOk);
  uint8_t v = 9;
  ASSERT_EQ(GetAutoRanging(2, &v), ResultOk);
  EXPECT_EQ(v, 1);
  ASSERT_EQ(GetCoupling(2, &v), ResultOk);
  EXPECT_EQ(v, 1);
  In().Coupling[1] = 5;
  v = 9;
  EXPECT_EQ(GetCoupling(1, &v), ResultInvalidValue);
  EXPECT_EQ(v, 9);
}

struct DcCase {
  double fullScale;
  double level;
  uint16_t result;
};

class DcLevelLimits : public ExportsOnInstrument, public ::testing::WithParamInterface<DcCase> {};

TEST_P(DcLevelLimits, AcceptsTwiceTheFullScaleComparedAt80Bits) {
  double fs = GetParam().fullScale;
  ASSERT_EQ(SetSensitivity(1, &fs), ResultOk);
  ASSERT_EQ(SetDcLevel(1, 0.125), ResultOk);
  EXPECT_EQ(SetDcLevel(1, GetParam().level), GetParam().result);
  double back = 0;
  ASSERT_EQ(GetDcLevel(1, &back), ResultOk);
  EXPECT_EQ(back, GetParam().result == ResultOk ? GetParam().level : 0.125);
}

INSTANTIATE_TEST_SUITE_P(Limits, DcLevelLimits,
                         ::testing::Values(DcCase{2.0, 4.0, ResultOk}, DcCase{2.0, -4.0, ResultOk},
                                           DcCase{2.0, 4.01, ResultInvalidValue},
                                           DcCase{2.0, -4.01, ResultInvalidValue},
                                           // 1.6 as a double lies just above twice the 80-bit 0.8.
                                           DcCase{0.8, 1.6, ResultInvalidValue}, DcCase{0.8, -1.6, ResultInvalidValue},
                                           DcCase{0.8, 1.5999, ResultOk}, DcCase{0.1, 0.2, ResultInvalidValue},
                                           DcCase{80, 160, ResultOk}, DcCase{2.0, kNaN, ResultInvalidValue}));

TEST_F(ExportsOnInstrument, DcLevelChecksAvailabilityBeforeTheChannel) {
  In().DcLevelAvailable = false;
  double v = 0;
  EXPECT_EQ(GetDcLevel(9, &v), ResultNotAvailable);
  EXPECT_EQ(SetDcLevel(9, 99.0), ResultNotAvailable);
  In().DcLevelAvailable = true;
  EXPECT_EQ(SetDcLevel(9, 99.0), ResultInvalidChannel);
}

TEST_F(ExportsOnInstrument, SetResolutionAcceptsEightAndReappliesTheGenerator) {
  In().GenSignalType = gsTriangle;
  In().GenFrequency = 1.0L / 3;
  In().GenAmplitude = 2.0L / 3;
  In().GenDCOffset = -0.1L;
  In().GenSymmetry = 0.7L;
  In().Resolution = 3;
  EXPECT_EQ(SetResolution(16), ResultInvalidValue);
  EXPECT_EQ(In().Resolution, 3);
  EXPECT_EQ(SetResolution(0), ResultInvalidValue);
  ASSERT_EQ(SetResolution(8), ResultOk);
  EXPECT_EQ(In().Resolution, 8);
  // The values went through 64 bits on their way back.
  EXPECT_EQ(In().GenSignalType, gsTriangle);
  EXPECT_EQ(In().GenFrequency, static_cast<long double>(static_cast<double>(1.0L / 3)));
  EXPECT_NE(In().GenFrequency, 1.0L / 3);
  EXPECT_EQ(In().GenAmplitude, static_cast<long double>(static_cast<double>(2.0L / 3)));
  EXPECT_EQ(In().GenDCOffset, static_cast<long double>(-0.1));
  EXPECT_EQ(In().GenSymmetry, static_cast<long double>(0.7));
  uint8_t bits = 0;
  ASSERT_EQ(GetResolution(&bits), ResultOk);
  EXPECT_EQ(bits, 8);
}

TEST_F(ExportsOnInstrument, SetSampleFrequencyWritesBackTheRateReached) {
  uint32_t hz = 3000000;
  ASSERT_EQ(SetSampleFrequency(&hz), ResultOk);
  EXPECT_EQ(hz, 2500000u);
  EXPECT_EQ(GetSampleFrequency(), 2500000u);
  double f = 1.0;
  ASSERT_EQ(SetSampleFrequencyF(&f), ResultOk);
  EXPECT_EQ(f, 25e6 / 5120 / 4883);
  EXPECT_EQ(GetSampleFrequency(), 1u);
}

TEST_F(ExportsOnInstrument, AboveFiftyMegahertzInterleavesOnlyOnACapableCard) {
  double f = 60e6;
  ASSERT_EQ(SetSampleFrequencyF(&f), ResultOk);
  EXPECT_EQ(f, 50e6);
  In().InterleaveCapable = true;
  ASSERT_EQ(SetMeasureMode(mCh1), ResultOk);
  f = 60e6;
  ASSERT_EQ(SetSampleFrequencyF(&f), ResultOk);
  EXPECT_EQ(f, 100e6);
  EXPECT_EQ(GetSampleFrequencyF(), 100e6);
}

// Interleaving puts both converters on channel 1. With channel 2 measured as
// well the records are taken at one converter's rate, and that is the rate
// reported; choosing channel 1 alone afterwards interleaves again.
TEST_F(ExportsOnInstrument, InterleavingFollowsTheMeasureMode) {
  In().InterleaveCapable = true;
  for (uint32_t mode : {uint32_t{mCh12}, uint32_t{mCh2}, uint32_t{mXY}}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(SetMeasureMode(mode), ResultOk);
    double f = 100e6;
    ASSERT_EQ(SetSampleFrequencyF(&f), ResultOk);
    EXPECT_EQ(f, 50e6);
    EXPECT_FALSE(In().Interleaved);
  }
  ASSERT_EQ(SetMeasureMode(mCh12), ResultOk);
  double f = 100e6;
  ASSERT_EQ(SetSampleFrequencyF(&f), ResultOk);
  ASSERT_EQ(SetMeasureMode(mCh1), ResultOk);
  EXPECT_EQ(GetSampleFrequencyF(), 100e6);
  EXPECT_TRUE(In().Interleaved);
  ASSERT_EQ(SetMeasureMode(mCh12), ResultOk);
  EXPECT_EQ(GetSampleFrequencyF(), 50e6);
  f = 20e6;  // a rate the converters reach alone ends the wish to interleave
  ASSERT_EQ(SetSampleFrequencyF(&f), ResultOk);
  ASSERT_EQ(SetMeasureMode(mCh1), ResultOk);
  EXPECT_FALSE(In().Interleaved);
}

TEST_F(ExportsOnInstrument, UnprogrammableFrequenciesAreRefusedAndChangeNothing) {
  double f = 1e6;
  ASSERT_EQ(SetSampleFrequencyF(&f), ResultOk);
  bus.Recorder().Clear();
  for (double bad : {-1.0, -1e6, -1e-300, 1e-9, 1e-6, kNaN, -std::numeric_limits<double>::infinity()}) {
    f = bad;
    EXPECT_EQ(SetSampleFrequencyF(&f), ResultInvalidValue) << bad;
    EXPECT_TRUE(std::isnan(bad) ? std::isnan(f) : f == bad);
  }
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_EQ(GetSampleFrequencyF(), 1e6);
}

TEST_F(ExportsOnInstrument, ZeroHertzIsIgnoredAndAnswersTheRateInEffect) {
  double f = 1e6;
  ASSERT_EQ(SetSampleFrequencyF(&f), ResultOk);
  f = 0;
  EXPECT_EQ(SetSampleFrequencyF(&f), ResultOk);
  EXPECT_EQ(f, 1e6);
  uint32_t hz = 0;
  EXPECT_EQ(SetSampleFrequency(&hz), ResultOk);
  EXPECT_EQ(hz, 1000000u);
}

TEST_F(ExportsOnInstrument, ExternalClockIsNotOfferedOnThisCard) {
  uint16_t v = 7;
  EXPECT_EQ(GetExternalClock(&v), ResultNotAvailable);
  EXPECT_EQ(v, 0);
  In().bExternalClock = true;
  EXPECT_EQ(SetExternalClock(1), ResultNotAvailable);
  EXPECT_FALSE(In().bExternalClock);
}

TEST_F(ExportsOnInstrument, ExternalClockOnAKindThatHasIt) {
  In().InstrumentKind = 22;
  EXPECT_EQ(SetExternalClock(1), ResultOk);
  uint16_t v = 0;
  EXPECT_EQ(GetExternalClock(&v), ResultOk);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(SetExternalClock(2), ResultInvalidValue);
  EXPECT_FALSE(In().bExternalClock);
}

TEST_F(ExportsOnInstrument, InstrumentConfigOnlyOnKind18) {
  uint16_t v = 9;
  EXPECT_EQ(GetInstrumentConfig(&v), ResultNotAvailable);
  EXPECT_EQ(SetInstrumentConfig(1), ResultNotAvailable);
  In().InstrumentKind = 18;
  EXPECT_EQ(SetInstrumentConfig(2), ResultOk);
  EXPECT_EQ(GetInstrumentConfig(&v), ResultOk);
  EXPECT_EQ(v, 2);
}

TEST_F(ExportsOnInstrument, RefusedInstrumentConfigStillReappliesTheSettings) {
  In().InstrumentKind = 18;
  In().SetrSampleFreq(1e6L);
  In().SetlRecordLength(1000);
  In().SetlPostSamples(300);
  In().SetChSensitivity(1, 4.0L);
  In().SettingsDirty = false;
  EXPECT_EQ(SetInstrumentConfig(3), ResultInvalidValue);
  EXPECT_EQ(In().InstrumentConfig, 0);
  EXPECT_EQ(In().GetrSampleFreq(), 1e6L);
  EXPECT_EQ(In().lRecordLength, 1000);
  EXPECT_EQ(In().lPostSamples, 300);
  EXPECT_EQ(In().lPreSamples, 700);
  EXPECT_EQ(In().RangeIndex[1], 8);
}

}  // namespace
}  // namespace rk350

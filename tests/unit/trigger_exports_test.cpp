// Trigger exports: which sources and modes the card offers, the conversions
// between volts and comparator counts, and the time-out in milliseconds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "input_test_support.h"
#include "rk350/rk350.h"

namespace rk350 {
namespace {

using testing::ExportsOnInstrument;

TEST_F(ExportsOnInstrument, TriggerSourcesOfferedByThisCard) {
  const uint16_t expected[16] = {
      ResultOk,           ResultOk,           ResultNotAvailable, ResultNotAvailable,  // ch1..ch4
      ResultOk,           ResultNotAvailable,                                          // external, analog external
      ResultOk,           ResultOk,           ResultNotAvailable,                      // and, or, xor
      ResultOk,           ResultNotAvailable,                                          // no trigger, never
      ResultNotAvailable, ResultNotAvailable, ResultNotAvailable, ResultNotAvailable,  // pxi, generator
      ResultInvalidValue,                                                              // unknown
  };
  for (int source = 0; source < 16; ++source) {
    In().tsTriggerSource = tsCh1;
    EXPECT_EQ(SetTriggerSource(static_cast<uint8_t>(source)), expected[source]) << source;
    EXPECT_EQ(In().tsTriggerSource, expected[source] == ResultOk ? source : tsCh1) << source;
  }
  EXPECT_EQ(SetTriggerSource(200), ResultInvalidValue);
}

TEST_F(ExportsOnInstrument, ChannelTwoSourceFollowsChannelCountOrConfigurationTwo) {
  In().ChannelCount = 1;
  EXPECT_EQ(SetTriggerSource(tsCh2), ResultNotAvailable);
  In().InstrumentConfig = 2;
  EXPECT_EQ(SetTriggerSource(tsCh2), ResultOk);
}

TEST_F(ExportsOnInstrument, GetTriggerSourceRefusesAStoredUnknownValue) {
  ASSERT_EQ(SetTriggerSource(tsOr), ResultOk);
  uint8_t v = 0;
  ASSERT_EQ(GetTriggerSource(&v), ResultOk);
  EXPECT_EQ(v, tsOr);
  In().tsTriggerSource = static_cast<TTrigSource>(16);
  v = 99;
  EXPECT_EQ(GetTriggerSource(&v), ResultInvalidValue);
  EXPECT_EQ(v, 99);
}

struct ModeCase {
  uint8_t input;
  uint8_t mode;
  uint16_t result;
};

class TriggerModeAcceptance : public ExportsOnInstrument, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(TriggerModeAcceptance, SetTriggerModeCh) {
  EXPECT_EQ(SetTriggerModeCh(GetParam().input, GetParam().mode), GetParam().result);
  if (GetParam().result == ResultOk) {
    EXPECT_EQ(In().TriggerMode[GetParam().input], GetParam().mode);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, TriggerModeAcceptance,
                         ::testing::Values(ModeCase{1, 0, ResultOk}, ModeCase{1, 3, ResultOk}, ModeCase{2, 6, ResultOk},
                                           ModeCase{1, 7, ResultNotAvailable}, ModeCase{1, 11, ResultNotAvailable},
                                           ModeCase{1, 12, ResultInvalidValue},
                                           ModeCase{0, 1, ResultOk},  // the external input
                                           ModeCase{0, 5, ResultOk}, ModeCase{3, 0, ResultInvalidChannel},
                                           ModeCase{3, 12, ResultInvalidChannel},  // channel before value
                                           ModeCase{255, 0, ResultInvalidChannel}));

TEST_F(ExportsOnInstrument, ModeCapabilitiesAndTheExternalInputFlag) {
  In().AllowsTriggerModes2And3 = false;
  In().AllowsTriggerMode4 = false;
  In().AllowsTriggerModes5And6 = false;
  for (uint8_t mode : {2, 3, 4, 5, 6}) EXPECT_EQ(SetTriggerModeCh(1, mode), ResultNotAvailable) << int(mode);
  In().HasExternalTrigger = false;
  EXPECT_EQ(SetTriggerModeCh(0, 0), ResultInvalidChannel);
  uint8_t v = 0;
  EXPECT_EQ(GetTriggerModeCh(0, &v), ResultInvalidChannel);
}

TEST_F(ExportsOnInstrument, SetTriggerModeSetsEveryChannelAndTheExternalInputBelowTwo) {
  ASSERT_EQ(SetTriggerModeCh(0, 1), ResultOk);
  ASSERT_EQ(SetTriggerMode(4), ResultOk);
  EXPECT_EQ(In().TriggerMode[1], 4);
  EXPECT_EQ(In().TriggerMode[2], 4);
  EXPECT_EQ(In().TriggerMode[0], 1);  // unchanged
  ASSERT_EQ(SetTriggerMode(0), ResultOk);
  EXPECT_EQ(In().TriggerMode[0], 0);
  EXPECT_EQ(SetTriggerMode(7), ResultNotAvailable);
  EXPECT_EQ(SetTriggerMode(12), ResultInvalidValue);
  EXPECT_EQ(In().TriggerMode[1], 0);
}

TEST_F(ExportsOnInstrument, GetTriggerModeAnswersForTheSource) {
  uint8_t v = 99;
  In().TriggerMode[1] = 0x83;  // bit 7 is not part of the mode
  ASSERT_EQ(GetTriggerMode(&v), ResultOk);
  EXPECT_EQ(v, 3);
  In().TriggerMode[1] = 9;
  EXPECT_EQ(GetTriggerMode(&v), ResultInvalidValue);

  In().tsTriggerSource = tsExternal;
  In().TriggerMode[0] = 1;
  ASSERT_EQ(GetTriggerMode(&v), ResultOk);
  EXPECT_EQ(v, 1);
  In().TriggerMode[0] = 2;
  EXPECT_EQ(GetTriggerMode(&v), ResultInvalidValue);

  In().tsTriggerSource = tsNoTrig;
  v = 99;
  EXPECT_EQ(GetTriggerMode(&v), ResultOk);
  EXPECT_EQ(v, 99);  // nothing to report

  uint8_t ch = 0;
  In().TriggerMode[2] = 0x85;
  ASSERT_EQ(GetTriggerModeCh(2, &ch), ResultOk);
  EXPECT_EQ(ch, 5);
}

struct LevelCase {
  double fullScale;
  double volts;
  uint16_t result;
  int32_t counts;
};

class TriggerLevelConversion : public ExportsOnInstrument, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(TriggerLevelConversion, VoltsToCounts) {
  double fs = GetParam().fullScale;
  ASSERT_EQ(SetSensitivity(1, &fs), ResultOk);
  In().TriggerLevel[1] = 42;
  EXPECT_EQ(SetTriggerLevel(1, GetParam().volts), GetParam().result);
  EXPECT_EQ(In().TriggerLevel[1], GetParam().result == ResultOk ? GetParam().counts : 42);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, TriggerLevelConversion,
    ::testing::Values(LevelCase{0.8, 0.0, ResultOk, 127}, LevelCase{0.8, 0.4, ResultOk, 191},
                      LevelCase{2.0, 2.0, ResultOk, 255}, LevelCase{2.0, -2.0, ResultOk, 0},
                      LevelCase{2.0, 1.0 / 128, ResultOk, 127},  // 0.5 count: half to even
                      LevelCase{2.0, 3.0 / 128, ResultOk, 129},  // 1.5 counts
                      // 0.8 as a double lies just above the 80-bit 0.8.
                      LevelCase{0.8, 0.8, ResultInvalidValue, 0}, LevelCase{2.0, 2.01, ResultInvalidValue, 0},
                      LevelCase{2.0, std::numeric_limits<double>::quiet_NaN(), ResultInvalidValue, 0}));

TEST_F(ExportsOnInstrument, TriggerLevelReadsBackInVolts) {
  double v = 1;
  ASSERT_EQ(SetTriggerLevel(1, 0.0), ResultOk);
  ASSERT_EQ(GetTriggerLevel(1, &v), ResultOk);
  EXPECT_EQ(v, 0.0);
  ASSERT_EQ(SetTriggerLevel(1, 0.4), ResultOk);
  ASSERT_EQ(GetTriggerLevel(1, &v), ResultOk);
  EXPECT_EQ(v, 0.4);
  // Counts stay when the range changes: the level scales with it.
  double fs = 8.0;
  ASSERT_EQ(SetSensitivity(1, &fs), ResultOk);
  ASSERT_EQ(GetTriggerLevel(1, &v), ResultOk);
  EXPECT_EQ(v, 4.0);
  EXPECT_EQ(GetTriggerLevel(3, &v), ResultInvalidChannel);
}

TEST_F(ExportsOnInstrument, SixteenBitComparatorScale) {
  In().TriggerLevelBits = 16;
  double fs = 2.0;
  ASSERT_EQ(SetSensitivity(1, &fs), ResultOk);
  ASSERT_EQ(SetTriggerLevel(1, 2.0), ResultOk);
  EXPECT_EQ(In().TriggerLevel[1], 65535);
  ASSERT_EQ(SetTriggerLevel(1, 0.0), ResultOk);
  EXPECT_EQ(In().TriggerLevel[1], 0x7FFF);
}

TEST_F(ExportsOnInstrument, HysteresisMustStayInsideTheFullScaleOnItsSide) {
  ASSERT_EQ(SetTriggerLevel(1, 0.7), ResultOk);  // 0.8 V range
  In().TriggerMode[1] = 1;                       // band above the level
  EXPECT_EQ(SetTriggerHys(1, 0.2), ResultInvalidValue);
  EXPECT_EQ(In().TriggerHysteresis[1], 10);
  In().TriggerMode[1] = 0;  // band below
  ASSERT_EQ(SetTriggerHys(1, 0.2), ResultOk);
  EXPECT_EQ(In().TriggerHysteresis[1], 32);
  double v = 0;
  ASSERT_EQ(GetTriggerHys(1, &v), ResultOk);
  EXPECT_EQ(v, 0.2);
  EXPECT_EQ(SetTriggerHys(1, 1.6), ResultInvalidValue);  // 0.7 - 1.6 < -0.8
}

TEST_F(ExportsOnInstrument, HysteresisCheckUsesTheModeOfChannelOne) {
  ASSERT_EQ(SetTriggerLevel(2, 0.7), ResultOk);
  In().TriggerMode[2] = 0;
  In().TriggerMode[1] = 1;
  EXPECT_EQ(SetTriggerHys(2, 0.2), ResultInvalidValue);
  for (uint8_t m : {4, 5, 6, 0x80}) {
    In().TriggerMode[1] = m;
    EXPECT_EQ(SetTriggerHys(1, 0.01), ResultInvalidValue) << int(m);
  }
  In().TriggerMode[1] = 2;
  ASSERT_EQ(SetTriggerHys(1, 100.0), ResultOk);  // no band check; limited to the largest count
  EXPECT_EQ(In().TriggerHysteresis[1], 256);
}

TEST_F(ExportsOnInstrument, NegativeHysteresisIsRefused) {
  for (uint8_t m : {0, 1, 2, 3}) {
    In().TriggerMode[1] = m;
    EXPECT_EQ(SetTriggerHys(1, -0.05), ResultInvalidValue) << int(m);
    EXPECT_EQ(SetTriggerHys(1, std::numeric_limits<double>::quiet_NaN()), ResultInvalidValue);
  }
  EXPECT_EQ(In().TriggerHysteresis[1], 10);
  EXPECT_EQ(SetTriggerHys(1, 0.0), ResultOk);
  EXPECT_EQ(In().TriggerHysteresis[1], 0);
  EXPECT_EQ(SetTriggerHys(0, -1.0), ResultInvalidChannel);  // channel first
}

TEST_F(ExportsOnInstrument, PxiLinesAreNotOffered) {
  uint8_t v = 5;
  EXPECT_EQ(GetPXITriggerSlopes(&v), ResultNotAvailable);
  EXPECT_EQ(SetPXITriggerSlopes(1), ResultNotAvailable);
  EXPECT_EQ(GetPXITriggerEnables(&v), ResultNotAvailable);
  EXPECT_EQ(SetPXITriggerEnables(1), ResultNotAvailable);
  EXPECT_EQ(v, 5);
  In().HasPxiTrigger = true;
  ASSERT_EQ(SetPXITriggerSlopes(3), ResultOk);
  ASSERT_EQ(GetPXITriggerSlopes(&v), ResultOk);
  EXPECT_EQ(v, 3);
}

TEST_F(ExportsOnInstrument, TriggerTimeOutInMilliseconds) {
  ASSERT_EQ(SetTriggerTimeOut(0xFFFFFFFF), ResultOk);
  EXPECT_EQ(In().rTrigTimeOut, -1.0L);
  EXPECT_EQ(GetTriggerTimeOut(), -1);
  ASSERT_EQ(SetTriggerTimeOut(2500), ResultOk);
  EXPECT_EQ(In().rTrigTimeOut, 2.5L);
  EXPECT_EQ(GetTriggerTimeOut(), 2500);
  ASSERT_EQ(SetTriggerTimeOut(1234), ResultOk);
  EXPECT_EQ(GetTriggerTimeOut(), 1234);
  ASSERT_EQ(SetTriggerTimeOut(0), ResultOk);
  EXPECT_EQ(GetTriggerTimeOut(), 0);
  // Above 2^31 ms the answer keeps the caller's 32 bits.
  ASSERT_EQ(SetTriggerTimeOut(3000000000u), ResultOk);
  EXPECT_EQ(static_cast<uint32_t>(GetTriggerTimeOut()), 3000000000u);
}

}  // namespace
}  // namespace rk350

// What a record holds, end to end through the exports of the virtual-card
// library: the valid range of hardware-triggered records, and complete
// records with the trigger at lPreSamples from the software trigger.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"
#include "rk350/rk350_sim.h"

namespace {

RK350SimSource Sine(double amplitude, double frequency, double phase = 0) {
  RK350SimSource s{};
  s.kind = RK350SIM_SOURCE_SINE;
  s.amplitude = amplitude;
  s.frequency = frequency;
  s.phase = phase;
  return s;
}

class RecordHolds : public ::testing::Test {
 protected:
  void SetUp() override {
    RK350Sim_SetManualTime(1.0);
    RK350Sim_SetAutoTimeStep(1e-6);
    ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
  }
  void TearDown() override { ExitInstrument(); }

  static void Record(uint32_t length, uint32_t post) {
    ASSERT_EQ(SetRecordLength(length), RK350_RESULT_OK);
    ASSERT_EQ(SetPostSamples(post), RK350_RESULT_OK);
  }
  static void Rate(double hertz) { ASSERT_EQ(SetSampleFrequencyF(&hertz), RK350_RESULT_OK); }
  static std::vector<uint16_t> Raw(uint16_t channel) {
    std::vector<uint16_t> v(static_cast<size_t>(GetRecordLength()));
    EXPECT_EQ(ADC_GetDataCh(channel, v.data()), RK350_RESULT_OK);
    return v;
  }
  static void ExpectHeld(uint16_t channel, int32_t first, int32_t count, const std::string& what) {
    int32_t f = -1, n = -1;
    ASSERT_EQ(RK350_GetValidRange(channel, &f, &n), RK350_RESULT_OK);
    EXPECT_EQ(f, first) << what;
    EXPECT_EQ(n, count) << what;
  }
  // Block measurement: polls ADC_Ready (the card's time steps on at every
  // status read) and fetches the record.
  static bool BlockMeasure(int polls = 200000) {
    if (ADC_Start() != RK350_RESULT_OK) return false;
    return BlockMeasureReady(polls);
  }
  static bool BlockMeasureReady(int polls = 200000) {
    for (int i = 0; i < polls; ++i) {
      if (ADC_Ready() == 1) return true;
    }
    return false;
  }
};

TEST_F(RecordHolds, HardwareTriggerTooEarlyLeavesTheStartUnsampledAndSaysSo) {
  // A 100 kHz sine at 10 MHz crosses 0 V within 100 samples of the start:
  // the card triggers long before the 1,500 pre-trigger samples are taken.
  Rate(10e6);
  Record(2000, 500);
  RK350SimSource s = Sine(0.5, 100e3);
  ASSERT_EQ(RK350Sim_SetInputSource(1, &s), 0);
  ASSERT_TRUE(BlockMeasure());
  const std::vector<uint16_t> raw = Raw(1);
  int32_t first = 0, count = 0;
  ASSERT_EQ(RK350_GetValidRange(1, &first, &count), RK350_RESULT_OK);
  EXPECT_GT(first, 1000);
  EXPECT_EQ(first + count, 2000);
  for (int32_t k = 0; k < first; ++k) ASSERT_EQ(raw[k], 0x8000) << k;
  // Channel 2 is read too (both channels measured) and holds the same span.
  ExpectHeld(2, first, count, "channel 2");
}

TEST_F(RecordHolds, CallsAnswerTheCommonChecks) {
  int32_t first = 0, count = 0;
  uint32_t flag = 0;
  EXPECT_EQ(RK350_GetValidRange(3, &first, &count), RK350_RESULT_INVALID_CHANNEL);
  EXPECT_EQ(RK350_GetValidRange(0, &first, &count), RK350_RESULT_INVALID_CHANNEL);
  EXPECT_EQ(RK350_GetValidRange(1, nullptr, &count), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(RK350_GetOverrange(1, nullptr), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(RK350_SetSoftwareTrigger(2), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(RK350_GetSoftwareTrigger(&flag), RK350_RESULT_OK);
  EXPECT_EQ(flag, 0u);  // off for the classic exports
  // Before the first record nothing is held.
  ASSERT_EQ(RK350_GetValidRange(1, &first, &count), RK350_RESULT_OK);
  EXPECT_EQ(count, 0);
  ExitInstrument();
  EXPECT_EQ(RK350_GetValidRange(1, &first, &count), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(RK350_SetSoftwareTrigger(1), RK350_RESULT_NO_INSTRUMENT);
}

TEST_F(RecordHolds, ClippedInputOverranges) {
  Rate(1e6);
  Record(1000, 500);
  ASSERT_EQ(SetTriggerSource(RK350_TS_NO_TRIG), RK350_RESULT_OK);
  for (const double amplitude : {2.0, 0.5}) {
    RK350SimSource s = Sine(amplitude, 10e3);
    ASSERT_EQ(RK350Sim_SetInputSource(1, &s), 0);
    ASSERT_TRUE(BlockMeasure());
    Raw(1);
    uint32_t over = 7;
    ASSERT_EQ(RK350_GetOverrange(1, &over), RK350_RESULT_OK);
    EXPECT_EQ(over, amplitude > 0.8 ? 1u : 0u) << amplitude;
  }
}

// Hardware-triggered records through the exports: the inputs carry a ramp
// (converter codes 130 .. 229, one step per sample, merged samples at
// 100 MHz), so the positions that
// hold this acquisition's samples in place are exactly the longest run of
// consecutive ramp codes; the valid range must be that run.
struct HeldCase {
  const char* name;
  uint8_t source;
  uint32_t measureMode;
  double rate;
  uint32_t length, post;
  double triggerAt;  // samples after the start; < 0: forced at -triggerAt
  friend void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }
};

class HeldRange : public RecordHolds, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(HeldRange, ValidRangeIsExactlyTheRunOfThisAcquisitionsSamples) {
  const HeldCase& c = GetParam();
  RK350Sim_SetAutoTimeStep(0);
  ASSERT_EQ(SetMeasureMode(c.measureMode), RK350_RESULT_OK);
  Rate(c.rate);
  Record(c.length, c.post);
  for (uint8_t ch = 1; ch <= 2; ++ch) {
    double range = 0.8;
    ASSERT_EQ(SetSensitivity(ch, &range), RK350_RESULT_OK);
    ASSERT_EQ(SetTriggerLevel(ch, 0.75), RK350_RESULT_OK);  // out of the ramp's reach
  }
  ASSERT_EQ(SetTriggerSource(c.source), RK350_RESULT_OK);
  const double rate = GetSampleFrequencyF(), period = 1 / rate;
  std::vector<double> ramp(100);
  for (int k = 0; k < 100; ++k) ramp[k] = (130 + k - 128) * 0.8 / 128;
  const double now = RK350Sim_GetTime();
  for (uint8_t input = 1; input <= 2; ++input)
    ASSERT_EQ(RK350Sim_SetInputSamples(input, ramp.data(), 100, period, now - period / 4, 1), 0);
  RK350SimSource ext{};
  ext.kind = RK350SIM_SOURCE_STEP;
  ext.amplitude = 3.0;
  ext.stepTime = now + (c.triggerAt + 0.5) * period;
  if (c.source == RK350_TS_EXTERNAL) {
    ASSERT_EQ(RK350Sim_SetInputSource(RK350SIM_INPUT_EXTERNAL, &ext), 0);
  }
  ASSERT_EQ(ADC_Start(), RK350_RESULT_OK);
  if (c.triggerAt < 0) {
    RK350Sim_AdvanceTime(-c.triggerAt * period);
    ASSERT_EQ(ADC_ForceTrig(), RK350_RESULT_OK);
  }
  RK350Sim_AdvanceTime((c.length + 70000.0) * period);
  ASSERT_EQ(ADC_Ready(), 1);
  const std::vector<uint16_t> raw = Raw(1);
  // The longest run of consecutive ramp codes.
  auto ramped = [](uint16_t r) { return (r & 0xFF) == 0 && (r >> 8) >= 130 && (r >> 8) < 230; };
  int32_t bestFirst = 0, bestCount = 0;
  for (int32_t k = 0; k < static_cast<int32_t>(c.length);) {
    if (!ramped(raw[k])) {
      ++k;
      continue;
    }
    int32_t end = k + 1;
    while (end < static_cast<int32_t>(c.length) && ramped(raw[end]) &&
           ((raw[end - 1] >> 8) - 130 + 1) % 100 == (raw[end] >> 8) - 130)
      ++end;
    if (end - k > bestCount) {
      bestFirst = k;
      bestCount = end - k;
    }
    k = end;
  }
  EXPECT_GT(bestCount, 0);
  ExpectHeld(1, bestFirst, bestCount, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    EarlyLateForcedFreeInterleavedExternal, HeldRange,
    ::testing::Values(HeldCase{"external_early", RK350_TS_EXTERNAL, 3, 10e6, 1000, 300, 200},
                      HeldCase{"external_late", RK350_TS_EXTERNAL, 1, 25e6, 1000, 300, 3000},
                      HeldCase{"forced_early", RK350_TS_CH1, 3, 5e6, 2000, 500, -300},
                      HeldCase{"forced_late", RK350_TS_CH1, 3, 1e6, 2000, 500, -5000},
                      HeldCase{"free_run", RK350_TS_NO_TRIG, 3, 25e6, 1000, 1000, 0},
                      HeldCase{"free_run_with_pre_trigger", RK350_TS_NO_TRIG, 1, 1e6, 1000, 600, 0},
                      HeldCase{"interleaved_early", RK350_TS_EXTERNAL, 1, 100e6, 1000, 300, 100},
                      HeldCase{"interleaved_forced_late", RK350_TS_CH1, 1, 100e6, 1001, 300, -4000}),
    [](const auto& info) { return std::string(info.param.name); });

struct SoftwareCase {
  const char* name;
  double rate;
  uint8_t source;  // RK350_TS_CH1 or RK350_TS_CH2
  uint8_t mode;    // 0 rising, 1 falling
  uint32_t length, post;
  double period = 200;  // of the sine, in samples
  friend void PrintTo(const SoftwareCase& c, std::ostream* os) { *os << c.name; }
};

class SoftwareTrigger : public RecordHolds, public ::testing::WithParamInterface<SoftwareCase> {};

// Where the signal crosses the level more often than the pre-trigger part
// lasts, the card's own trigger would come before the pre-trigger samples
// are taken; where it crosses seldom, the card's trigger often comes after
// them. Either way the record is complete with the crossing at lPreSamples,
// and says which trigger took it.
TEST_P(SoftwareTrigger, RecordIsCompleteWithTheTriggerAtPreSamples) {
  const SoftwareCase& c = GetParam();
  ASSERT_EQ(SetMeasureMode(c.source == RK350_TS_CH1 && c.rate > 50e6 ? 1 : 3), RK350_RESULT_OK);
  Rate(c.rate);
  Record(c.length, c.post);
  ASSERT_EQ(SetTriggerSource(c.source), RK350_RESULT_OK);
  ASSERT_EQ(SetTriggerMode(c.mode), RK350_RESULT_OK);
  ASSERT_EQ(RK350_SetSoftwareTrigger(1), RK350_RESULT_OK);
  const double rate = GetSampleFrequencyF();
  RK350Sim_SetAutoTimeStep(20 / rate);
  const uint8_t input = c.source == RK350_TS_CH1 ? 1 : 2;
  RK350SimSource s = Sine(0.5, rate / c.period, 1.0);
  ASSERT_EQ(RK350Sim_SetInputSource(input, &s), 0);

  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(BlockMeasure()) << c.name;
    const std::vector<uint16_t> raw = Raw(input);
    ExpectHeld(input, 0, static_cast<int32_t>(c.length), c.name);
    uint32_t how = RK350_RECORD_NONE;
    ASSERT_EQ(RK350_GetRecordTrigger(&how), RK350_RESULT_OK);
    EXPECT_TRUE(how == RK350_RECORD_TRIGGERED_CARD || how == RK350_RECORD_TRIGGERED_SOFTWARE) << c.name << ": " << how;
    const int32_t pre = static_cast<int32_t>(c.length - c.post);
    // Comparator scale: level 127 (0 V) is converter code 128; rising fires
    // at code 128 and above, falling at 128 and below.
    const int at = raw[pre] >> 8, before = raw[pre - 1] >> 8;
    if (c.mode == 0) {
      EXPECT_GE(at, 128) << c.name;
      EXPECT_LT(before, 128) << c.name;
    } else {
      EXPECT_LE(at, 128) << c.name;
      EXPECT_GT(before, 128) << c.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EdgesChannelsRates, SoftwareTrigger,
    ::testing::Values(SoftwareCase{"ch1_rising_100MHz", 100e6, RK350_TS_CH1, 0, 2000, 500},
                      SoftwareCase{"ch1_falling_100MHz", 100e6, RK350_TS_CH1, 1, 2001, 1000},
                      SoftwareCase{"ch1_rising_50MHz", 50e6, RK350_TS_CH1, 0, 5000, 100},
                      SoftwareCase{"ch2_falling_25MHz", 25e6, RK350_TS_CH2, 1, 2500, 1250},
                      SoftwareCase{"ch2_rising_1MHz", 1e6, RK350_TS_CH2, 0, 1000, 10},
                      SoftwareCase{"ch1_falling_10kHz", 10e3, RK350_TS_CH1, 1, 800, 400},
                      SoftwareCase{"ch1_rising_long_record", 5e6, RK350_TS_CH1, 0, 40000, 20000},
                      SoftwareCase{"ch1_rising_100Hz", 100, RK350_TS_CH1, 0, 100, 75, 20},
                      SoftwareCase{"ch2_falling_100Hz", 100, RK350_TS_CH2, 1, 300, 150, 70},
                      SoftwareCase{"ch1_falling_1kHz", 1e3, RK350_TS_CH1, 1, 1000, 250, 180},
                      SoftwareCase{"ch2_rising_1kHz_slow_signal", 1e3, RK350_TS_CH2, 0, 500, 450, 900},
                      SoftwareCase{"ch1_rising_crossing_after_pre", 1e6, RK350_TS_CH1, 0, 1000, 900, 3000},
                      SoftwareCase{"ch1_rising_100MHz_slow_signal", 100e6, RK350_TS_CH1, 0, 3001, 2000, 5000}),
    [](const auto& info) { return std::string(info.param.name); });

// Rising crossings of 0 V (converter code 128) in a record.
std::vector<int32_t> RisingCrossings(const std::vector<uint16_t>& raw) {
  std::vector<int32_t> at;
  for (size_t i = 1; i < raw.size(); ++i)
    if ((raw[i - 1] >> 8) < 128 && (raw[i] >> 8) >= 128) at.push_back(static_cast<int32_t>(i));
  return at;
}

// The search reads the trigger channel from where the record is expected to
// start, and the record's beginning afterwards when it starts earlier: the
// pieces must join into the signal as it was, with the period learned from
// the record before wrong for this one. Every crossing of the record then
// lies one period after the one before it, the other channel's copy of the
// signal agrees sample by sample, and the trigger is at lPreSamples.
TEST_F(RecordHolds, SoftwareTriggerRecordsJoinUpWhenThePeriodChangesBetweenRecords) {
  Rate(1e6);
  Record(3000, 1000);
  ASSERT_EQ(SetMeasureMode(3), RK350_RESULT_OK);
  ASSERT_EQ(RK350_SetSoftwareTrigger(1), RK350_RESULT_OK);
  RK350Sim_SetAutoTimeStep(20e-6);
  const double periods[] = {100, 100, 71, 143, 45, 300, 100, 64};
  for (size_t round = 0; round < std::size(periods); ++round) {
    const double period = periods[round];
    RK350SimSource s = Sine(0.5, 1e6 / period, 0.37 * static_cast<double>(round));
    ASSERT_EQ(RK350Sim_SetInputSource(1, &s), 0);
    ASSERT_EQ(RK350Sim_SetInputSource(2, &s), 0);
    const std::string what = "period " + std::to_string(period) + ", round " + std::to_string(round);
    ASSERT_TRUE(BlockMeasure()) << what;
    const std::vector<uint16_t> ch1 = Raw(1), ch2 = Raw(2);
    ExpectHeld(1, 0, 3000, what);
    ExpectHeld(2, 0, 3000, what);
    const std::vector<int32_t> crossings = RisingCrossings(ch1);
    ASSERT_GE(crossings.size(), 5u) << what;
    EXPECT_NE(std::find(crossings.begin(), crossings.end(), 2000), crossings.end()) << what;
    for (size_t i = 1; i < crossings.size(); ++i)
      EXPECT_NEAR(crossings[i] - crossings[i - 1], period, 2.0) << what << ", crossing " << crossings[i];
    // The converters round apart by a code at most; a piece read from the
    // wrong place differs by many.
    for (size_t i = 0; i < ch1.size(); ++i)
      ASSERT_LE(std::abs((ch1[i] >> 8) - (ch2[i] >> 8)), 1) << what << ", position " << i;
  }
}

TEST_F(RecordHolds, SoftwareTriggerCompletesSynchronousAndFreeRunningRecords) {
  Rate(1e6);
  Record(3000, 1000);
  ASSERT_EQ(RK350_SetSoftwareTrigger(1), RK350_RESULT_OK);
  RK350SimSource s = Sine(0.5, 1e6 / 300);
  ASSERT_EQ(RK350Sim_SetInputSource(1, &s), 0);
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  std::vector<uint16_t> a(3000), b(3000);
  ASSERT_EQ(GetMeasurementRaw(a.data(), b.data()), RK350_RESULT_OK);
  ExpectHeld(1, 0, 3000, "synchronous");
  EXPECT_GE(a[2000] >> 8, 128);
  EXPECT_LT(a[1999] >> 8, 128);
  // No trigger wanted: a free run of exactly the record.
  ASSERT_EQ(SetTriggerSource(RK350_TS_NO_TRIG), RK350_RESULT_OK);
  ASSERT_TRUE(BlockMeasure());
  Raw(1);
  ExpectHeld(1, 0, 3000, "free run");
}

TEST_F(RecordHolds, SoftwareTriggerWithoutCrossingEndsByForcing) {
  // A DC input never meets the condition: ADC_Ready stays 0 until the
  // application forces, then the record comes complete.
  Rate(1e6);
  Record(1000, 500);
  ASSERT_EQ(RK350_SetSoftwareTrigger(1), RK350_RESULT_OK);
  RK350SimSource dc{};
  dc.kind = RK350SIM_SOURCE_DC;
  dc.offset = 0.3;
  ASSERT_EQ(RK350Sim_SetInputSource(1, &dc), 0);
  ASSERT_FALSE(BlockMeasure(2000));
  ASSERT_EQ(ADC_ForceTrig(), RK350_RESULT_OK);
  bool ready = false;
  for (int i = 0; i < 100000 && !ready; ++i) ready = ADC_Ready() == 1;
  ASSERT_TRUE(ready);
  const std::vector<uint16_t> raw = Raw(1);
  ExpectHeld(1, 0, 1000, "forced");
  EXPECT_EQ(raw[0] >> 8, 176);
  EXPECT_EQ(raw[999] >> 8, 176);
}

TEST_F(RecordHolds, CardTriggerWhereTheWindowDoesNotFit) {
  // The longest record leaves no room for a search window: the card's own
  // trigger runs, and the valid range says what it took.
  Rate(1e6);
  Record(65520, 100);
  ASSERT_EQ(RK350_SetSoftwareTrigger(1), RK350_RESULT_OK);
  RK350SimSource s = Sine(0.5, 1e3);
  ASSERT_EQ(RK350Sim_SetInputSource(1, &s), 0);
  ASSERT_TRUE(BlockMeasure());
  Raw(1);
  int32_t first = 0, count = 0;
  ASSERT_EQ(RK350_GetValidRange(1, &first, &count), RK350_RESULT_OK);
  EXPECT_GT(first, 0);
  EXPECT_EQ(first + count, 65520);
}

// How the record was taken, for each way a record comes: the code describes
// the record the last data call fetched.
struct HowCase {
  const char* name;
  bool software;
  uint8_t source;
  double sourceVolts;  // DC input; 0 with `sine`
  bool sine;           // a sine that crosses the level
  uint32_t timeOutMs;  // SetTriggerTimeOut; 0xFFFFFFFF waits for ever
  bool forceByCall;    // block measurement forced by ADC_ForceTrig
  bool synchronous;    // StartMeasurement instead of a block measurement
  uint32_t expected;
  friend void PrintTo(const HowCase& c, std::ostream* os) { *os << c.name; }
};

class RecordTriggerCode : public RecordHolds, public ::testing::WithParamInterface<HowCase> {};

TEST_P(RecordTriggerCode, SaysHowTheRecordWasTaken) {
  const HowCase& c = GetParam();
  uint32_t how = 99;
  ASSERT_EQ(RK350_GetRecordTrigger(&how), RK350_RESULT_OK);
  EXPECT_EQ(how, uint32_t{RK350_RECORD_NONE}) << "before any record";
  Rate(1e6);
  Record(1000, 500);
  ASSERT_EQ(RK350_SetSoftwareTrigger(c.software ? 1 : 0), RK350_RESULT_OK);
  ASSERT_EQ(SetTriggerSource(c.source), RK350_RESULT_OK);
  ASSERT_EQ(SetTriggerTimeOut(c.timeOutMs), RK350_RESULT_OK);
  RK350SimSource s{};
  if (c.sine) {
    s = Sine(0.5, 1e6 / 300);
  } else {
    s.kind = RK350SIM_SOURCE_DC;
    s.offset = c.sourceVolts;
  }
  ASSERT_EQ(RK350Sim_SetInputSource(1, &s), 0);
  if (c.synchronous) {
    ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  } else {
    const bool ready = BlockMeasure(2000);
    if (c.forceByCall) {
      ASSERT_FALSE(ready) << c.name;
      ASSERT_EQ(ADC_ForceTrig(), RK350_RESULT_OK);
      ASSERT_TRUE(BlockMeasureReady()) << c.name;
    } else {
      ASSERT_TRUE(ready) << c.name;
    }
    Raw(1);
  }
  ASSERT_EQ(RK350_GetRecordTrigger(&how), RK350_RESULT_OK);
  EXPECT_EQ(how, c.expected) << c.name;
  if (c.software) ExpectHeld(1, 0, 1000, c.name);
}

constexpr uint32_t kForEver = 0xFFFFFFFF;
INSTANTIATE_TEST_SUITE_P(
    Ways, RecordTriggerCode,
    ::testing::Values(
        HowCase{"card_trigger", false, RK350_TS_CH1, 0, true, kForEver, false, false, RK350_RECORD_TRIGGERED_CARD},
        HowCase{"card_trigger_forced_by_call", false, RK350_TS_CH1, 0.3, false, kForEver, true, false,
                RK350_RECORD_FORCED_CALL},
        HowCase{"software_forced_by_call", true, RK350_TS_CH1, 0.3, false, kForEver, true, false,
                RK350_RECORD_FORCED_CALL},
        HowCase{"card_trigger_time_out", false, RK350_TS_CH1, 0.3, false, 100, false, true,
                RK350_RECORD_FORCED_TIMEOUT},
        HowCase{"software_time_out", true, RK350_TS_CH1, 0.3, false, 100, false, true, RK350_RECORD_FORCED_TIMEOUT},
        HowCase{"software_crossing_synchronous", true, RK350_TS_CH1, 0, true, 1000, false, true,
                RK350_RECORD_TRIGGERED_SOFTWARE},
        HowCase{"source_none", true, RK350_TS_NO_TRIG, 0, true, kForEver, false, false, RK350_RECORD_FREE_RUN},
        HowCase{"card_source_none", false, RK350_TS_NO_TRIG, 0, true, kForEver, false, false, RK350_RECORD_FREE_RUN},
        HowCase{"time_out_zero", true, RK350_TS_CH1, 0.3, false, 0, false, false, RK350_RECORD_FREE_RUN}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordHolds, RecordTriggerAndArmedRunTimeAnswerTheCommonChecks) {
  EXPECT_EQ(RK350_GetRecordTrigger(nullptr), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(RK350_GetArmedRunTime(nullptr), RK350_RESULT_INVALID_VALUE);
  ExitInstrument();
  uint32_t how = 7;
  double seconds = -2;
  EXPECT_EQ(RK350_GetRecordTrigger(&how), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(RK350_GetArmedRunTime(&seconds), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(how, 7u);
  EXPECT_EQ(seconds, -2);
}

// The armed run's card time after its trigger covers the post-trigger part
// (and the software trigger's window), so a host that waits that long after
// the trigger never gives up on a card that runs as asked.
TEST_F(RecordHolds, ArmedRunTimeCoversTheRunAfterTheTrigger) {
  RK350Sim_SetAutoTimeStep(0.01);
  Rate(100);
  Record(100, 75);
  RK350SimSource s = Sine(0.5, 5);
  ASSERT_EQ(RK350Sim_SetInputSource(1, &s), 0);
  for (const uint32_t software : {0u, 1u}) {
    ASSERT_EQ(RK350_SetSoftwareTrigger(software), RK350_RESULT_OK);
    ASSERT_EQ(ADC_Start(), RK350_RESULT_OK);
    double seconds = 0;
    ASSERT_EQ(RK350_GetArmedRunTime(&seconds), RK350_RESULT_OK);
    EXPECT_GE(seconds, software == 1 ? 1.0 : 0.75) << software;
    EXPECT_LT(seconds, 3.0) << software;
    ASSERT_TRUE(BlockMeasureReady());
    Raw(1);
  }
}

}  // namespace

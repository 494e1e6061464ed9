// Measurements end to end through the exports of the virtual-card library:
// alignment of the trigger instant, levels, interleaving, time-outs, auto
// ranging and the timer-driven modes. The card runs on manual time that moves
// on by a small step at every status read, so results do not depend on the
// host's speed. Each test case runs in a freshly loaded library.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"
#include "rk350/rk350_sim.h"

namespace {

constexpr double kPi = std::numbers::pi;

RK350SimSource Source(int32_t kind, double amplitude, double offset = 0, double frequency = 0, double stepTime = 0) {
  RK350SimSource s{};
  s.kind = kind;
  s.amplitude = amplitude;
  s.offset = offset;
  s.frequency = frequency;
  s.stepTime = stepTime;
  return s;
}

class VirtualAcquisition : public ::testing::Test {
 protected:
  void SetUp() override {
    RK350Sim_SetManualTime(1.0);
    RK350Sim_SetAutoTimeStep(1e-5);
    ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
  }
  void TearDown() override { ExitInstrument(); }

  static void Set(uint8_t input, const RK350SimSource& s) { ASSERT_EQ(RK350Sim_SetInputSource(input, &s), 0); }
  static void Record(uint32_t length, uint32_t post) {
    ASSERT_EQ(SetRecordLength(length), RK350_RESULT_OK);
    ASSERT_EQ(SetPostSamples(post), RK350_RESULT_OK);
  }
  static void Rate(double hertz) { ASSERT_EQ(SetSampleFrequencyF(&hertz), RK350_RESULT_OK); }
  static void Range(uint8_t channel, double fullScale) {
    ASSERT_EQ(SetSensitivity(channel, &fullScale), RK350_RESULT_OK);
  }
  static std::vector<double> Volts(uint16_t channel) {
    std::vector<double> v(static_cast<size_t>(GetRecordLength()));
    EXPECT_EQ(ADC_GetDataVoltCh(channel, v.data()), RK350_RESULT_OK);
    return v;
  }
  // Pumps the thread's messages (host clock: the 6 ms timer) until `done`
  // or the wall-clock limit.
  template <typename Done>
  static bool PumpUntil(Done done, double seconds = 5.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      RK350_ProcessMessages();
      if (done()) return true;
    }
    return false;
  }
  static double Mean(const std::vector<double>& v, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += v[i];
    return sum / static_cast<double>(to - from);
  }
};

struct EdgeCase {
  const char* name;
  uint8_t source;
  uint16_t channel;
  double rate;
  friend void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }
};

class EdgeAlignment : public VirtualAcquisition, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(EdgeAlignment, EdgeAtTheTriggerInstantLandsAtPreSamples) {
  const EdgeCase& c = GetParam();
  ASSERT_EQ(SetMeasureMode(3), RK350_RESULT_OK);
  Record(1000, 300);
  Rate(c.rate);
  ASSERT_EQ(SetTriggerSource(c.source), RK350_RESULT_OK);
  RK350Sim_SetAutoTimeStep(0);
  const double period = 1.0 / GetSampleFrequencyF();
  const double stepTime = RK350Sim_GetTime() + 3000.5 * period;
  Set(1, Source(RK350SIM_SOURCE_STEP, 0.6, -0.3, 0, stepTime));
  Set(2, Source(RK350SIM_SOURCE_STEP, 0.6, -0.3, 0, stepTime));
  Set(RK350SIM_INPUT_EXTERNAL, Source(RK350SIM_SOURCE_STEP, 3.3, 0, 0, stepTime));
  ASSERT_EQ(ADC_Start(), RK350_RESULT_OK);
  RK350Sim_AdvanceTime(6000 * period);
  ASSERT_EQ(ADC_Ready(), 1);
  std::vector<uint16_t> raw(1000);
  ASSERT_EQ(ADC_GetDataCh(c.channel, raw.data()), RK350_RESULT_OK);
  const int pre = 1000 - 300;
  // 0.3 V on the 0.8 V range is 48 codes from mid-scale.
  EXPECT_GT(raw[pre], 0x8000 + 0x2000) << c.name;
  EXPECT_LT(raw[pre - 1], 0x8000 - 0x2000) << c.name;
  EXPECT_LT(raw[0], 0x8000 - 0x2000) << c.name;
  EXPECT_GT(raw[999], 0x8000 + 0x2000) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Paths, EdgeAlignment,
                         ::testing::Values(EdgeCase{"ch1_fast", RK350_TS_CH1, 1, 10e6},
                                           EdgeCase{"ch1_slow", RK350_TS_CH1, 1, 20e3},
                                           EdgeCase{"ch2_fast", RK350_TS_CH2, 2, 25e6},
                                           EdgeCase{"ch2_slow", RK350_TS_CH2, 2, 100e3},
                                           EdgeCase{"external_fast", RK350_TS_EXTERNAL, 1, 50e6},
                                           EdgeCase{"external_slow", RK350_TS_EXTERNAL, 2, 1e3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VirtualAcquisition, SineAmplitudeAndFrequency) {
  const double amplitude = 0.5, frequency = 10e3;
  Range(1, 0.8);
  Rate(1e6);
  Record(4000, 2000);
  Set(1, Source(RK350SIM_SOURCE_SINE, amplitude, 0, frequency));
  // Triggered from the external input once the memory holds a whole record.
  // (StartMeasurement counts the time-out in its own fast ticks: no limit.)
  ASSERT_EQ(SetTriggerSource(RK350_TS_EXTERNAL), RK350_RESULT_OK);
  ASSERT_EQ(SetTriggerTimeOut(0xFFFFFFFFu), RK350_RESULT_OK);
  Set(RK350SIM_INPUT_EXTERNAL, Source(RK350SIM_SOURCE_STEP, 3.3, 0, 0, RK350Sim_GetTime() + 5e-3));
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  std::vector<double> v1(4000), v2(4000);
  ASSERT_EQ(GetMeasurement(v1.data(), v2.data()), RK350_RESULT_OK);
  // Least-squares fit of a sine and a cosine at the known frequency gives the
  // amplitude; the rising zero crossings give the frequency.
  double s = 0, c = 0;
  for (int i = 0; i < 4000; ++i) {
    s += v1[i] * std::sin(2 * kPi * frequency * i / 1e6);
    c += v1[i] * std::cos(2 * kPi * frequency * i / 1e6);
  }
  const double measured = 2 * std::hypot(s, c) / 4000;
  const double lsb = 0.8 / 128, calibration = 0.01 * amplitude;
  EXPECT_NEAR(measured, amplitude, lsb + calibration);
  std::vector<int> crossings;
  for (int i = 1; i < 4000; ++i)
    if (v1[i - 1] < 0 && v1[i] >= 0) crossings.push_back(i);
  ASSERT_GE(crossings.size(), 3u);
  const double period = static_cast<double>(crossings.back() - crossings.front()) / (crossings.size() - 1) / 1e6;
  EXPECT_NEAR(1 / period, frequency, frequency * 0.01);
}

TEST_F(VirtualAcquisition, DcLevelShiftsTheTrace) {
  Range(1, 0.8);
  Rate(1e6);
  ASSERT_EQ(SetTriggerSource(RK350_TS_NO_TRIG), RK350_RESULT_OK);
  Set(1, Source(RK350SIM_SOURCE_DC, 0, 0.1));
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  std::vector<double> a(512), b(512);
  ASSERT_EQ(GetMeasurement(a.data(), b.data()), RK350_RESULT_OK);
  const double before = Mean(a, 400, 500);
  ASSERT_EQ(SetDcLevel(1, 0.2), RK350_RESULT_OK);
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  ASSERT_EQ(GetMeasurement(a.data(), b.data()), RK350_RESULT_OK);
  const double after = Mean(a, 400, 500);
  EXPECT_NEAR(before, 0.1, 1.5 * 0.8 / 128);
  EXPECT_NEAR(after - before, 0.2, 1.5 * 0.8 / 128);
}

TEST_F(VirtualAcquisition, InterleavedSineHasNoOddEvenArtefact) {
  ASSERT_EQ(SetMeasureMode(1), RK350_RESULT_OK);
  Rate(100e6);
  ASSERT_EQ(GetSampleFrequencyF(), 100e6);
  Range(1, 0.8);
  Record(4096, 2048);
  const double f = 3.1e6, amplitude = 0.6;
  Set(1, Source(RK350SIM_SOURCE_SINE, amplitude, 0, f));
  Set(2, Source(RK350SIM_SOURCE_DC, 0, 0.7));  // must not show up: input 1 feeds both converters
  ASSERT_EQ(SetTriggerSource(RK350_TS_EXTERNAL), RK350_RESULT_OK);
  ASSERT_EQ(SetTriggerTimeOut(0xFFFFFFFFu), RK350_RESULT_OK);
  Set(RK350SIM_INPUT_EXTERNAL, Source(RK350SIM_SOURCE_STEP, 3.3, 0, 0, RK350Sim_GetTime() + 1e-3));
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  std::vector<double> v(4096), unused(4096);
  ASSERT_EQ(GetMeasurement(v.data(), unused.data()), RK350_RESULT_OK);
  // Best sine on the 10 ns grid: search the phase, then compare odd and even
  // samples against it.
  auto residual = [&](double phase, double* odd, double* even, double* worst) {
    double e2 = 0;
    for (int i = 1; i < 4000; ++i) {
      const double e = v[i] - amplitude * std::sin(2 * kPi * f * i * 10e-9 + phase);
      e2 += e * e;
      if (odd != nullptr) {
        (i % 2 ? *odd : *even) += std::fabs(e);
        *worst = std::max(*worst, std::fabs(e));
      }
    }
    return e2;
  };
  double best = 1e300, phase0 = 0;
  for (int k = 0; k < 3600; ++k) {
    const double phase = k * 2 * kPi / 3600;
    const double e = residual(phase, nullptr, nullptr, nullptr);
    if (e < best) best = e, phase0 = phase;
  }
  double odd = 0, even = 0, worst = 0;
  residual(phase0, &odd, &even, &worst);
  const double lsb = 0.8 / 128;
  EXPECT_LT(worst, 2 * lsb + 0.01 * amplitude);
  EXPECT_NEAR(odd / 2000, even / 2000, 0.25 * lsb);
}

TEST_F(VirtualAcquisition, TriggerTimeOutForcesARecord) {
  Rate(1e6);
  ASSERT_EQ(SetTriggerTimeOut(100), RK350_RESULT_OK);
  Set(1, Source(RK350SIM_SOURCE_DC, 0, -0.2));  // never crosses 0 V
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  EXPECT_EQ(ADC_Triggered(), 0);
  std::vector<double> a(512), b(512);
  ASSERT_EQ(GetMeasurement(a.data(), b.data()), RK350_RESULT_OK);
  EXPECT_NEAR(a[300], -0.2, 1.5 * 0.8 / 128);
}

// StartMeasurement polls back to back; its time-out still lasts its time, so
// a trigger that comes well within the time-out (but after many polls) is
// taken rather than forced away.
TEST_F(VirtualAcquisition, SynchronousMeasurementWaitsItsTimeOutForTheTrigger) {
  Rate(1e6);
  ASSERT_EQ(SetTriggerTimeOut(1000), RK350_RESULT_OK);
  // Card time moves 10 us per status read: the step comes after hundreds of
  // polls, far more than the 21 counted polls of a 1 s time-out.
  Set(1, Source(RK350SIM_SOURCE_STEP, 0.4, -0.2, 0, RK350Sim_GetTime() + 5e-3));
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  EXPECT_NE(ADC_Triggered(), 0);
  std::vector<double> a(512), b(512);
  ASSERT_EQ(GetMeasurement(a.data(), b.data()), RK350_RESULT_OK);
  EXPECT_NEAR(a[500], 0.2, 1.5 * 0.8 / 128);
}

TEST_F(VirtualAcquisition, NegativeTimeOutWaitsForTheTrigger) {
  Rate(1e6);
  ASSERT_EQ(SetTriggerTimeOut(0xFFFFFFFFu), RK350_RESULT_OK);
  EXPECT_EQ(GetTriggerTimeOut(), -1);
  Set(1, Source(RK350SIM_SOURCE_DC, 0, -0.2));
  ASSERT_EQ(DoMeasure(1), RK350_RESULT_OK);
  uint16_t first = 0, second = 0;
  const bool recorded = PumpUntil(
      [&] {
        GetOneMeasurementRaw(300, &first, &second);
        return first != 0;
      },
      0.4);
  EXPECT_FALSE(recorded);
  // A trigger then completes the waiting measurement.
  Set(1, Source(RK350SIM_SOURCE_STEP, 0.4, -0.2, 0, RK350Sim_GetTime() + 1e-3));
  EXPECT_TRUE(PumpUntil([&] {
    GetOneMeasurementRaw(300, &first, &second);
    return first != 0;
  }));
}

TEST_F(VirtualAcquisition, AutoRangingInContinuousModeStepsAndSettles) {
  Rate(1e6);
  ASSERT_EQ(SetMeasureMode(1), RK350_RESULT_OK);
  ASSERT_EQ(SetTriggerTimeOut(50), RK350_RESULT_OK);
  ASSERT_EQ(SetAutoRanging(1, 1), RK350_RESULT_OK);
  Range(1, 0.8);
  auto fullScale = [] {
    double s = 0;
    GetSensitivity(1, &s);
    return s;
  };
  // Overloading: 3 V on 0.8 V steps up through 2 V to 4 V and stays there.
  Set(1, Source(RK350SIM_SOURCE_SINE, 3.0, 0, 5e3));
  ASSERT_EQ(DoMeasure(-1), RK350_RESULT_OK);
  EXPECT_TRUE(PumpUntil([&] { return fullScale() == 4.0; }));
  EXPECT_FALSE(PumpUntil([&] { return fullScale() != 4.0; }, 0.3));
  // Small: 50 mV steps down to the most sensitive offered range, 0.1 V.
  Set(1, Source(RK350SIM_SOURCE_SINE, 0.05, 0, 5e3));
  EXPECT_TRUE(PumpUntil([&] { return fullScale() == 0.1; }));
  EXPECT_FALSE(PumpUntil([&] { return fullScale() != 0.1; }, 0.3));
  ASSERT_EQ(DoMeasure(0), RK350_RESULT_OK);
}

TEST_F(VirtualAcquisition, ContinuousModeDeliversRecordsWhileTheHostPumps) {
  Rate(1e6);
  ASSERT_EQ(SetTriggerTimeOut(20), RK350_RESULT_OK);
  Set(1, Source(RK350SIM_SOURCE_DC, 0, 0.2));
  ASSERT_EQ(DoMeasure(-1), RK350_RESULT_OK);
  auto level = [] {
    double a = 0, b = 0;
    GetOneMeasurement(256, &a, &b);
    return a;
  };
  EXPECT_TRUE(PumpUntil([&] { return std::fabs(level() - 0.2) < 0.01; }));
  Set(1, Source(RK350SIM_SOURCE_DC, 0, -0.3));
  EXPECT_TRUE(PumpUntil([&] { return std::fabs(level() + 0.3) < 0.01; }));
  ASSERT_EQ(DoMeasure(0), RK350_RESULT_OK);
}

TEST_F(VirtualAcquisition, OneShotDeliversOneRecordThenHolds) {
  Rate(1e6);
  ASSERT_EQ(SetTriggerTimeOut(20), RK350_RESULT_OK);
  Set(1, Source(RK350SIM_SOURCE_DC, 0, 0.2));
  ASSERT_EQ(DoMeasure(1), RK350_RESULT_OK);
  auto level = [] {
    double a = 0, b = 0;
    GetOneMeasurement(256, &a, &b);
    return a;
  };
  EXPECT_TRUE(PumpUntil([&] { return std::fabs(level() - 0.2) < 0.01; }));
  // Held: a new level at the input no longer reaches the data.
  Set(1, Source(RK350SIM_SOURCE_DC, 0, -0.3));
  EXPECT_FALSE(PumpUntil([&] { return std::fabs(level() - 0.2) > 0.01; }, 0.3));
}

TEST_F(VirtualAcquisition, GeneratorOutputIsLoopedToChannelOne) {
  // Power-on wiring: the function generator drives input 1.
  ASSERT_EQ(SetFuncGenSignalType(RK350_GEN_SINE), RK350_RESULT_OK);
  double hertz = 10e3;
  ASSERT_EQ(SetFuncGenFrequency(&hertz), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenAmplitude(0.5), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenOutputOn(1), RK350_RESULT_OK);
  Range(1, 0.8);
  Rate(1e6);
  Record(2000, 1000);
  ASSERT_EQ(SetTriggerTimeOut(0xFFFFFFFFu), RK350_RESULT_OK);
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  std::vector<double> v1(2000), v2(2000);
  ASSERT_EQ(GetMeasurement(v1.data(), v2.data()), RK350_RESULT_OK);
  const auto [low, high] = std::minmax_element(v1.begin() + 1200, v1.end());
  EXPECT_NEAR(*high, 0.5, 0.05);
  EXPECT_NEAR(*low, -0.5, 0.05);
}

TEST_F(VirtualAcquisition, LongSlowRecordInManualTime) {
  Rate(1.0);
  Record(65520, 32760);
  ASSERT_EQ(SetMeasureMode(1), RK350_RESULT_OK);
  RK350Sim_SetAutoTimeStep(0);
  Set(1, Source(RK350SIM_SOURCE_STEP, 0.6, -0.3, 0, RK350Sim_GetTime() + 40000.5));
  ASSERT_EQ(ADC_Start(), RK350_RESULT_OK);
  RK350Sim_AdvanceTime(100000);
  ASSERT_EQ(ADC_Ready(), 1);
  const std::vector<double> v = Volts(1);
  EXPECT_NEAR(v[32760], 0.3, 0.02);
  EXPECT_NEAR(v[32759], -0.3, 0.02);
}

TEST_F(VirtualAcquisition, CardThatStopsAnsweringDoesNotHangTheMeasurement) {
  ASSERT_EQ(RK350Sim_SetFault(RK350SIM_FAULT_STATUS_STUCK), 0);
  EXPECT_EQ(StartMeasurement(), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(ADC_Ready(), 0);
  ASSERT_EQ(DoMeasure(-1), RK350_RESULT_OK);
  PumpUntil([] { return false; }, 0.1);  // the engine keeps ticking, each tick bounded
  ASSERT_EQ(DoMeasure(0), RK350_RESULT_OK);
  RK350Sim_SetFault(RK350SIM_FAULT_NONE);
  EXPECT_EQ(StartMeasurement(), RK350_RESULT_OK);
}

}  // namespace

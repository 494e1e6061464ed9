// The function generator end to end: set through the exports, looped back by
// the virtual card to channel 1 (its power-on wiring), and measured through
// the measurement exports.
//
// Tolerances: the measurement is 8 bits, so one count is 1/128 of the full
// scale (15.6 mV at 2 V, 31 mV at 4 V, 1.6 mV at 0.2 V). Amplitude and offset
// must agree within one count, frequencies within 0.1 %. (The generator's own
// levels are within half a fine DAC step, below 0.2 mV, and its frequency
// within the increment's truncation, 0.006 % at 1 kHz.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"
#include "rk350/rk350_sim.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSampleRate = 1000000.0;  // 1 us per sample
constexpr uint32_t kRecordLength = 20000;  // 20 ms: 20 periods at 1 kHz
constexpr double kCount = 2.0 / 128;       // one count on the 2 V range

class GeneratorLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
    ASSERT_EQ(GetFunctionGenStatus(), RK350_RESULT_OK);
    double rate = kSampleRate;
    ASSERT_EQ(SetSampleFrequencyF(&rate), RK350_RESULT_OK);
    ASSERT_EQ(rate, kSampleRate);
    ASSERT_EQ(SetRecordLength(kRecordLength), RK350_RESULT_OK);
    // All of the record after the trigger: a generator that triggers at once
    // leaves no earlier samples in the card's memory.
    ASSERT_EQ(SetPostSamples(kRecordLength), RK350_RESULT_OK);
    ASSERT_EQ(SetTriggerTimeOut(50), RK350_RESULT_OK);  // periodic signals trigger at once; DC is forced
    FullScale(2.0);
  }
  void TearDown() override { ExitInstrument(); }

  static void FullScale(double volts) {
    double fullScale = volts;
    ASSERT_EQ(SetSensitivity(1, &fullScale), RK350_RESULT_OK);
    ASSERT_EQ(fullScale, volts);
  }

  // One record of channel 1, in volts.
  static std::vector<double> Measure() {
    EXPECT_EQ(StartMeasurement(), RK350_RESULT_OK);
    std::vector<double> ch1(kRecordLength), ch2(kRecordLength);
    EXPECT_EQ(GetMeasurement(ch1.data(), ch2.data()), RK350_RESULT_OK);
    return ch1;
  }

  static void Generator(uint16_t type, double frequency, double amplitude, double offset, double symmetry) {
    ASSERT_EQ(SetFuncGenSignalType(type), RK350_RESULT_OK);
    ASSERT_EQ(SetFuncGenFrequency(&frequency), RK350_RESULT_OK);
    ASSERT_EQ(SetFuncGenAmplitude(amplitude), RK350_RESULT_OK);
    ASSERT_EQ(SetFuncGenDCOffset(offset), RK350_RESULT_OK);
    ASSERT_EQ(SetFuncGenSymmetry(symmetry), RK350_RESULT_OK);
    ASSERT_EQ(SetFuncGenOutputOn(1), RK350_RESULT_OK);
  }
};

double Mean(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / v.size(); }

// Repetition frequency from the rising crossings of the middle level (with a
// hysteresis of a quarter of the swing), interpolated between samples.
double Frequency(const std::vector<double>& v) {
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  const double mid = (*lo + *hi) / 2, band = (*hi - *lo) / 4;
  std::vector<double> crossings;
  bool armed = false;
  for (size_t i = 1; i < v.size(); ++i) {
    if (v[i] < mid - band) armed = true;
    if (armed && v[i - 1] < mid && v[i] >= mid) {
      crossings.push_back(i - 1 + (mid - v[i - 1]) / (v[i] - v[i - 1]));
      armed = false;
    }
  }
  if (crossings.size() < 3) return 0;
  return (crossings.size() - 1) * kSampleRate / (crossings.back() - crossings.front());
}

// Amplitude and offset of a sine of known frequency: least squares on
// offset + a cos + b sin.
void FitSine(const std::vector<double>& v, double frequency, double& amplitude, double& offset) {
  double sc = 0, ss = 0, scs = 0, sy = 0, syc = 0, sys = 0, sc1 = 0, ss1 = 0;
  const double n = static_cast<double>(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    const double w = 2 * kPi * frequency * i / kSampleRate;
    const double c = std::cos(w), s = std::sin(w);
    sc += c * c, ss += s * s, scs += c * s, sc1 += c, ss1 += s;
    sy += v[i], syc += v[i] * c, sys += v[i] * s;
  }
  // Normal equations [n sc1 ss1; sc1 sc scs; ss1 scs ss] x = [sy syc sys].
  double m[3][4] = {{n, sc1, ss1, sy}, {sc1, sc, scs, syc}, {ss1, scs, ss, sys}};
  for (int col = 0; col < 3; ++col) {
    for (int row = col + 1; row < 3; ++row) {
      const double f = m[row][col] / m[col][col];
      for (int k = col; k < 4; ++k) m[row][k] -= f * m[col][k];
    }
  }
  double x[3];
  for (int row = 2; row >= 0; --row) {
    double acc = m[row][3];
    for (int k = row + 1; k < 3; ++k) acc -= m[row][k] * x[k];
    x[row] = acc / m[row][row];
  }
  offset = x[0];
  amplitude = std::hypot(x[1], x[2]);
}

// Share of the record above the middle level.
double ShareAbove(const std::vector<double>& v, double level) {
  return std::count_if(v.begin(), v.end(), [level](double x) { return x > level; }) / static_cast<double>(v.size());
}

// Share of the record in which the signal rises (over a span of 5 samples).
double ShareRising(const std::vector<double>& v) {
  size_t rising = 0, moving = 0;
  for (size_t i = 5; i < v.size(); ++i) {
    if (v[i] != v[i - 5]) ++moving;
    if (v[i] > v[i - 5]) ++rising;
  }
  return moving == 0 ? 0 : rising / static_cast<double>(moving);
}

// The lowest and highest levels, as the means of the lowest and highest 2 %.
std::pair<double, double> Extremes(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t k = v.size() / 50;
  return {std::accumulate(v.begin(), v.begin() + k, 0.0) / k, std::accumulate(v.end() - k, v.end(), 0.0) / k};
}

TEST_F(GeneratorLoopback, SineOfSetAmplitudeAndOffset) {
  Generator(RK350_GEN_SINE, 1000, 1.2, 0.4, 50);
  const auto v = Measure();
  const double f = Frequency(v);
  EXPECT_NEAR(f, 1000, 1.0);
  double amplitude = 0, offset = 0;
  FitSine(v, f, amplitude, offset);
  EXPECT_NEAR(amplitude, 1.2, kCount);
  EXPECT_NEAR(offset, 0.4, kCount);
}

TEST_F(GeneratorLoopback, AcCouplingTakesAwayTheOffset) {
  ASSERT_EQ(SetCoupling(1, 1), RK350_RESULT_OK);
  Generator(RK350_GEN_SQUARE, 1000, 0.8, 1.0, 25);  // mean 1.0 - 0.8 / 2 = 0.6 V
  const auto v = Measure();
  const auto [low, high] = Extremes(v);
  EXPECT_NEAR(low, 0.2 - 0.6, kCount);
  EXPECT_NEAR(high, 1.8 - 0.6, kCount);
}

TEST_F(GeneratorLoopback, SmallSineInTheLowRange) {
  FullScale(0.2);
  Generator(RK350_GEN_SINE, 1000, 0.08, -0.05, 50);
  const auto v = Measure();
  const double f = Frequency(v);
  EXPECT_NEAR(f, 1000, 1.0);
  double amplitude = 0, offset = 0;
  FitSine(v, f, amplitude, offset);
  EXPECT_NEAR(amplitude, 0.08, kCount / 10);
  EXPECT_NEAR(offset, -0.05, kCount / 10);
}

TEST_F(GeneratorLoopback, TriangleWithAQuarterRising) {
  Generator(RK350_GEN_TRIANGLE, 1000, 1.5, -0.2, 25);
  const auto v = Measure();
  EXPECT_NEAR(Frequency(v), 1000, 1.0);
  const auto [low, high] = Extremes(v);
  EXPECT_NEAR((high - low) / 2, 1.5, 0.05);  // the 2 % means sit slightly inside the peaks
  EXPECT_NEAR(Mean(v), -0.2, kCount);
  EXPECT_NEAR(ShareRising(v), 0.25, 0.02);
}

TEST_F(GeneratorLoopback, SquareWithSeventyPercentHigh) {
  Generator(RK350_GEN_SQUARE, 1000, 1.0, 0.5, 70);
  const auto v = Measure();
  EXPECT_NEAR(Frequency(v), 1000, 1.0);
  const auto [low, high] = Extremes(v);
  EXPECT_NEAR(low, -0.5, kCount);
  EXPECT_NEAR(high, 1.5, kCount);
  EXPECT_NEAR(ShareAbove(v, 0.5), 0.70, 0.01);
}

TEST_F(GeneratorLoopback, DcIsTheOffsetAlone) {
  Generator(RK350_GEN_DC, 1000, 1.0, -1.3, 50);
  const auto v = Measure();
  const auto [low, high] = Extremes(v);
  EXPECT_NEAR(Mean(v), -1.3, kCount);
  EXPECT_LE(high - low, kCount);
}

TEST_F(GeneratorLoopback, NoiseStaysInsideItsBand) {
  Generator(RK350_GEN_NOISE, 1000, 1.0, 0.3, 50);
  const auto v = Measure();
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  EXPECT_GE(*lo, 0.3 - 1.0 - kCount);
  EXPECT_LE(*hi, 0.3 + 1.0 + kCount);
  EXPECT_NEAR(Mean(v), 0.3, 0.05);
  // Uniform over the band: standard deviation 1 / sqrt(3).
  double var = 0;
  const double m = Mean(v);
  for (double x : v) var += (x - m) * (x - m);
  EXPECT_NEAR(std::sqrt(var / v.size()), 1.0 / std::sqrt(3.0), 0.05);
}

TEST_F(GeneratorLoopback, SquareWaveGeneratorAt1kHzSwings2point5Volts) {
  FullScale(4.0);
  uint32_t hz = 1000;
  ASSERT_EQ(SetSquareWaveGenFrequency(&hz), RK350_RESULT_OK);
  const auto v = Measure();
  EXPECT_NEAR(Frequency(v), 1000, 1.0);
  const auto [low, high] = Extremes(v);
  EXPECT_NEAR(low, -2.5, 2 * kCount);  // one count on the 4 V range
  EXPECT_NEAR(high, 2.5, 2 * kCount);
  EXPECT_NEAR(ShareAbove(v, 0.0), 0.5, 0.01);
}

// A user waveform played back: the measured record, aligned to the
// waveform's own start, against the samples given (sample 0 is the lowest
// output, 65535 the highest).
void ExpectWaveform(const std::vector<double>& v, const std::vector<uint16_t>& samples, double samplesPerSecond,
                    double amplitude) {
  const double period = samples.size() / samplesPerSecond * kSampleRate;  // in record samples
  ASSERT_NEAR(Frequency(v), kSampleRate / period, kSampleRate / period * 0.001);
  const auto expected = [&](double phase) {
    const auto i = static_cast<size_t>(phase * samples.size()) % samples.size();
    return -amplitude + 2 * amplitude * samples[i] / 65535.0;
  };
  // The alignment: the phase of the record's first sample that fits best.
  double bestPhase = 0, bestError = 1e9;
  for (int step = 0; step < 2000; ++step) {
    const double phase0 = step / 2000.0;
    double error = 0;
    for (size_t i = 0; i < 2000; ++i) error += std::fabs(v[i] - expected(std::fmod(phase0 + i / period, 1.0)));
    if (error < bestError) bestError = error, bestPhase = phase0;
  }
  // Away from the jumps, every measured sample is the given one.
  size_t compared = 0, off = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    const double phase = std::fmod(bestPhase + i / period, 1.0);
    const double before = expected(std::fmod(phase + 1 - 3.0 / period, 1.0));
    const double after = expected(std::fmod(phase + 3.0 / period, 1.0));
    if (std::fabs(after - before) > 0.1 * amplitude) continue;
    ++compared;
    if (std::fabs(v[i] - expected(phase)) > 0.04) ++off;
  }
  EXPECT_GT(compared, v.size() / 2);
  EXPECT_LT(off, compared / 100) << off << " of " << compared;
}

TEST_F(GeneratorLoopback, UserRampInShortMemoryComesBack) {
  std::vector<uint16_t> ramp(1024);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint16_t>(i * 64);
  ASSERT_EQ(FillFuncGenMemory(static_cast<uint32_t>(ramp.size()), ramp.data()), RK350_RESULT_OK);
  Generator(RK350_GEN_ARBITRARY, 1000, 1.0, 0.0, 50);  // 1024 samples: repeated at 1 kHz
  ExpectWaveform(Measure(), ramp, 1024 * 1000.0, 1.0);
}

TEST_F(GeneratorLoopback, FewHundredSamplesInLongMemoryComeBack) {
  // 300 samples: a ramp up, a plateau and a step down.
  std::vector<uint16_t> shape(300);
  for (size_t i = 0; i < shape.size(); ++i) {
    shape[i] = i < 150 ? static_cast<uint16_t>(i * 400) : i < 250 ? 60000 : 10000;
  }
  ASSERT_EQ(FillFuncGenMemory(static_cast<uint32_t>(shape.size()), shape.data()), RK350_RESULT_OK);
  // Long memory: the frequency is the sample clock; 312.5 kHz (prescaler
  // index 7) plays the 300 samples at 1041.7 Hz.
  Generator(RK350_GEN_ARBITRARY, 312500, 1.0, 0.0, 50);
  double f = 0;
  ASSERT_EQ(GetFuncGenFrequency(&f), RK350_RESULT_OK);
  EXPECT_EQ(f, 312500);
  ExpectWaveform(Measure(), shape, 312500.0, 1.0);
}

TEST(GeneratorOnTheCard, DecodesWhatTheExportsSet) {
  ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
  double hz = 1000;
  ASSERT_EQ(SetFuncGenSignalType(RK350_GEN_SINE), RK350_RESULT_OK);  // parked as DC
  ASSERT_EQ(SetFuncGenFrequency(&hz), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenAmplitude(2.5), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenDCOffset(1.0), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenOutputOn(1), RK350_RESULT_OK);
  double frequency = 0, amplitude = 0, offset = 0;
  EXPECT_EQ(RK350Sim_GetGeneratorOutput(&frequency, &amplitude, &offset), 1);
  EXPECT_NEAR(frequency, 1000, 0.1);
  EXPECT_NEAR(amplitude, 2.5, 0.001);
  EXPECT_NEAR(offset, 1.0, 0.001);
  ExitInstrument();
}

}  // namespace

namespace {

// The frequency the library reports as run is the one the card puts out.
TEST(GeneratorOnTheCard, ReportsTheFrequencyItRuns) {
  ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenSignalType(RK350_GEN_SINE), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenAmplitude(1.0), RK350_RESULT_OK);
  struct Case {
    double asked;
    std::uint32_t arbitrarySamples;  // 0: the sine
  };
  for (const Case c : {Case{1000, 0}, Case{12345.6, 0}, Case{3.3, 0}, Case{7e6, 0}, Case{1000, 1024}, Case{250e3, 4000},
                       Case{1e6, 300}}) {
    if (c.arbitrarySamples != 0) {
      const std::vector<uint16_t> ramp(c.arbitrarySamples, 0x8000);
      ASSERT_EQ(FillFuncGenMemory(c.arbitrarySamples, ramp.data()), RK350_RESULT_OK);
      ASSERT_EQ(SetFuncGenSignalType(RK350_GEN_ARBITRARY), RK350_RESULT_OK);
    }
    double hz = c.asked;
    ASSERT_EQ(SetFuncGenOutputOn(0), RK350_RESULT_OK);
    ASSERT_EQ(SetFuncGenFrequency(&hz), RK350_RESULT_OK);
    double before = 0;  // output off: what it will run
    ASSERT_EQ(RK350_GetFuncGenRunFrequency(&before), RK350_RESULT_OK);
    ASSERT_EQ(SetFuncGenOutputOn(1), RK350_RESULT_OK);
    double run = 0, card = 0;
    ASSERT_EQ(RK350_GetFuncGenRunFrequency(&run), RK350_RESULT_OK);
    ASSERT_EQ(RK350Sim_GetGeneratorOutput(&card, nullptr, nullptr), 1);
    EXPECT_EQ(before, run) << c.asked;
    // The card gives the repetition frequency; the long memory's setting is
    // its sample clock.
    const bool longMemory = c.arbitrarySamples != 0 && c.arbitrarySamples != 1024;
    EXPECT_NEAR(longMemory ? run / c.arbitrarySamples : run, card, card * 1e-12) << c.asked;
    EXPECT_NE(run, c.asked) << c.asked;  // none of these is a frequency the card reaches exactly
  }
  double hz = 1000;
  ASSERT_EQ(SetFuncGenSignalType(RK350_GEN_SINE), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenFrequency(&hz), RK350_RESULT_OK);
  double run = 0;
  ASSERT_EQ(RK350_GetFuncGenRunFrequency(&run), RK350_RESULT_OK);
  EXPECT_NEAR(run, 999.942421913147, 1e-9);
  EXPECT_EQ(RK350_GetFuncGenRunFrequency(nullptr), RK350_RESULT_INVALID_VALUE);
  ExitInstrument();
  EXPECT_EQ(RK350_GetFuncGenRunFrequency(&run), RK350_RESULT_NO_INSTRUMENT);
}

}  // namespace

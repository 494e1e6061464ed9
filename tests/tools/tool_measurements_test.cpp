// The measurement module against records whose answers are known: sines of
// known frequency at several lengths and noise levels, squares of known
// duty, edges of known rise time, records with positions that hold no sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "measurements.h"

using rk350::tools::DecimalsFor;
using rk350::tools::EstimateFrequency;
using rk350::tools::FindQuantity;
using rk350::tools::Measure;
using rk350::tools::MeasurementHistory;
using rk350::tools::Measurements;

namespace {

std::vector<double> Sine(double amplitude, double offset, double frequency, double rate, std::size_t n,
                         double phase = 0.3) {
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = offset + amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate + phase);
  return v;
}

// An 8-bit converter's view of a signal on a range of +-fullScale.
std::vector<double> Quantised(std::vector<double> v, double fullScale) {
  for (double& x : v) x = std::clamp(std::round(x / fullScale * 128.0), -128.0, 127.0) * fullScale / 128.0;
  return v;
}

std::vector<double> WithNoise(std::vector<double> v, double sigma, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, sigma);
  for (double& x : v) x += gauss(random);
  return v;
}

// A square between `low` and `high` with the given share high, starting
// `delay` samples into its high part.
std::vector<double> Square(double low, double high, double period, double duty, std::size_t n, double delay = 0) {
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double phase = std::fmod(static_cast<double>(i) + delay, period) / period;
    v[i] = phase < duty ? high : low;
  }
  return v;
}

}  // namespace

TEST(Measurements, SineGivesExtremesMeanRmsAndFrequency) {
  const auto v = Sine(1.5, 0.25, 1000.0, 1e6, 20000);
  const auto s = Measure(v, 1e6);
  EXPECT_EQ(s.count, 20000u);
  EXPECT_NEAR(s.maximum, 1.75, 1e-5);
  EXPECT_NEAR(s.minimum, -1.25, 1e-5);
  EXPECT_NEAR(s.peakToPeak, 3.0, 1e-5);
  EXPECT_NEAR(s.mean, 0.25, 1e-9);  // whole periods
  EXPECT_NEAR(s.acRms, 1.5 / std::sqrt(2.0), 1e-9);
  EXPECT_NEAR(s.rms, std::sqrt(0.25 * 0.25 + 1.5 * 1.5 / 2), 1e-9);
  ASSERT_TRUE(s.frequency.has_value());
  EXPECT_NEAR(s.frequency->hertz, 1000.0, 1e-6);
  ASSERT_TRUE(s.period.has_value());
  EXPECT_NEAR(*s.period, 1e-3, 1e-12);
  EXPECT_NEAR(*s.dutyCycle, 50.0, 0.01);
  // 10 % to 90 % of a sine's swing takes asin(0.8) / pi of its period.
  EXPECT_NEAR(*s.riseTime, std::asin(0.8) / std::numbers::pi * 1e-3, 2e-6);
  EXPECT_NEAR(*s.fallTime, std::asin(0.8) / std::numbers::pi * 1e-3, 2e-6);
}

// Within 30 ppm on 8-bit sine records of at least four periods and a
// thousand samples, at any phase; on shorter ones the quantisation noise
// allows less, and the uncertainty says so: it covers the error everywhere.
TEST(Measurements, FrequencyOfQuantisedSinesWithinThirtyPpm) {
  struct Case {
    double frequency, rate;
    std::size_t n;
    double amplitude, noise;  // V on a 2 V range
  };
  const Case cases[] = {
      {999.9424, 1e6, 5000, 1.0, 0.0},   {999.9424, 1e6, 4000, 1.0, 0.0},     {9999.87, 1e6, 5000, 1.0, 0.0},
      {1999998.1, 1e8, 2001, 0.93, 0.0}, {123.4468, 1e4, 1000, 1.0, 0.0},     {3299.71, 294117.647, 8000, 1.0, 0.0},
      {1499.95, 1e5, 270, 1.0, 0.0},     {49.998, 1e3, 300, 1.0, 0.005},      {12345.0, 1e6, 65520, 0.3, 0.01},
      {19999.74, 1e6, 600, 1.8, 0.0},    {76997.28, 2.5e6, 65520, 1.0, 0.02}, {6.9997, 1e3, 2000, 0.3, 0.0},
  };
  for (const Case& c : cases) {
    for (const double phase : {0.0, 1.1, 2.7}) {
      const auto v = Quantised(WithNoise(Sine(c.amplitude, 0.0, c.frequency, c.rate, c.n, phase), c.noise, 3), 2.0);
      const auto f = EstimateFrequency(v, c.rate, 2.0 / 128);
      ASSERT_TRUE(f.has_value()) << c.frequency << " Hz, " << c.n << " samples";
      const double ppm = (f->hertz / c.frequency - 1) * 1e6;
      if (c.n >= 1000) {
        EXPECT_LT(std::fabs(ppm), 30.0) << c.frequency << " Hz, " << c.n << " samples, phase " << phase;
      }
      EXPECT_LE(std::fabs(f->hertz - c.frequency), f->uncertainty) << c.frequency << " Hz, phase " << phase;
    }
  }
}

TEST(Measurements, UncertaintyShrinksWithLengthAndGrowsWithNoise) {
  const auto fit = [](std::size_t n, double noise) {
    const auto f = EstimateFrequency(WithNoise(Sine(1.0, 0.0, 1000.3, 1e6, n), noise, 5), 1e6);
    return f ? f->uncertainty : NAN;
  };
  EXPECT_LT(fit(40000, 0.01), fit(5000, 0.01) / 10);  // n^1.5: 22 times
  EXPECT_GT(fit(5000, 0.1), fit(5000, 0.01) * 5);
  // A clean record is still no better known than its converter step allows.
  const auto clean = Sine(1.0, 0.0, 1000, 1e6, 5000);
  EXPECT_GT(EstimateFrequency(clean, 1e6, 2.0 / 128)->uncertainty, EstimateFrequency(clean, 1e6, 0)->uncertainty);
}

TEST(Measurements, DigitsFollowTheUncertainty) {
  struct Case {
    double uncertainty, scale;
    int decimals;
  };
  for (const Case c : {Case{0.03, 1, 1}, Case{0.01, 1, 2}, Case{0.011, 1, 1}, Case{0.4, 1e3, 3}, Case{30, 1, 0},
                       Case{2e-7, 1e-3, 3}, Case{0, 1, 0}, Case{NAN, 1, 0}}) {
    EXPECT_EQ(DecimalsFor(c.uncertainty, c.scale), c.decimals) << c.uncertainty << " / " << c.scale;
  }
}

TEST(Measurements, SquareOfKnownDutyAndLevels) {
  // 2.5 kHz at 1 MHz: 400 samples per period.
  for (const double duty : {0.1, 0.25, 0.5, 0.8}) {
    const auto v = Square(-1.0, 2.0, 400, duty, 10000, 37);
    const auto m = Measure(v, 1e6);
    ASSERT_TRUE(m.frequency.has_value()) << duty;
    EXPECT_NEAR(m.frequency->hertz, 2500.0, 0.5) << duty;
    ASSERT_TRUE(m.dutyCycle.has_value()) << duty;
    EXPECT_NEAR(*m.dutyCycle, duty * 100, 0.3) << duty;  // edges fall on samples
    EXPECT_DOUBLE_EQ(m.top, 2.0);
    EXPECT_DOUBLE_EQ(m.base, -1.0);
    EXPECT_NEAR(*m.overshoot, 0.0, 1e-12);
  }
}

TEST(Measurements, EdgesOfKnownRiseTimeAndOvershoot) {
  // A trapezoid: 0 V for 500 samples, a linear ramp over `ramp` samples to
  // 1 V (with a 20 % spike after it), 1 V for 500 samples, ramp down.
  for (const double ramp : {5.0, 20.0, 100.0}) {
    std::vector<double> v;
    for (int period = 0; period < 6; ++period) {
      v.insert(v.end(), 500, 0.0);
      for (int i = 1; i < ramp; ++i) v.push_back(i / ramp);
      v.push_back(1.2);
      v.insert(v.end(), 499, 1.0);
      for (int i = 1; i < ramp; ++i) v.push_back(1.0 - i / ramp);
    }
    const auto m = Measure(v, 1e6);
    ASSERT_TRUE(m.riseTime && m.fallTime) << ramp;
    EXPECT_NEAR(*m.riseTime, 0.8 * ramp * 1e-6, 1.01e-6) << ramp;
    EXPECT_NEAR(*m.fallTime, 0.8 * ramp * 1e-6, 0.01e-6) << ramp;
    // The levels take in the ends of the ramps within two bins of 1/256.
    EXPECT_NEAR(*m.overshoot, 20.0, 0.05) << ramp;
    EXPECT_NEAR(m.top, 1.0, 1e-3);
    EXPECT_NEAR(m.base, 0.0, 1e-3);
  }
}

TEST(Measurements, PositionsWithoutSamplesTakeNoPart) {
  // A sine whose first and last thousand positions, and a stretch in the
  // middle, hold no sample: the figures are those of the held samples.
  auto v = Quantised(Sine(1.0, 0.5, 1000, 1e6, 10000), 2.0);
  std::fill(v.begin(), v.begin() + 1000, NAN);
  std::fill(v.end() - 1000, v.end(), NAN);
  std::fill(v.begin() + 5000, v.begin() + 5300, NAN);
  const auto m = Measure(v, 1e6, 2.0 / 128);
  EXPECT_EQ(m.count, 7700u);
  double sum = 0;
  for (double x : v) sum += std::isnan(x) ? 0.0 : x;
  EXPECT_NEAR(m.mean, sum / 7700, 1e-12);
  EXPECT_NEAR(m.maximum, 1.5, 0.02);
  ASSERT_TRUE(m.frequency.has_value());
  EXPECT_NEAR(m.frequency->hertz, 1000.0, 1000.0 * 30e-6);
  ASSERT_TRUE(m.riseTime.has_value());
  EXPECT_NEAR(*m.riseTime, std::asin(0.8) / std::numbers::pi * 1e-3, 5e-6);

  const std::vector<double> none(100, NAN);
  const auto empty = Measure(none, 1e6);
  EXPECT_EQ(empty.count, 0u);
  EXPECT_FALSE(empty.frequency || empty.riseTime || empty.dutyCycle || empty.overshoot);
}

TEST(Measurements, OneHeldStretchGivesTheFiguresOfThatStretchAlone) {
  // Empty positions only before and after the held samples (a record's
  // valid range): every figure is that of the held stretch measured alone.
  const auto held = Quantised(Square(-0.8, 0.9, 400, 0.3, 6000, 17), 1.0);
  std::vector<double> v(300, NAN);
  v.insert(v.end(), held.begin(), held.end());
  v.insert(v.end(), 500, NAN);
  const auto m = Measure(v, 1e6, 1.0 / 128);
  const auto alone = Measure(held, 1e6, 1.0 / 128);
  EXPECT_EQ(m.count, held.size());
  for (const auto& q : rk350::tools::Quantities()) {
    const auto a = q.read(m), b = q.read(alone);
    ASSERT_EQ(a.has_value(), b.has_value()) << q.key;
    if (a) {
      EXPECT_NEAR(*a, *b, std::fabs(*b) * 1e-9 + 1e-15) << q.key;
    }
  }
}

TEST(Measurements, NoFrequencyWhereThereIsNone) {
  std::mt19937 random(7);
  std::normal_distribution<double> gauss(0.0, 0.1);
  std::vector<double> noise(5000);
  for (double& x : noise) x = gauss(random);
  std::vector<double> step(5000, 0.0);
  std::fill(step.begin() + 2500, step.end(), 1.0);
  const std::vector<double> dc(5000, 0.7);
  const auto onePeriodAndAHalf = Sine(1.0, 0.0, 1.0, 1000.0, 1500, 0.0);

  EXPECT_FALSE(EstimateFrequency(noise, 1e6).has_value());
  EXPECT_FALSE(EstimateFrequency(step, 1e6).has_value());
  EXPECT_FALSE(EstimateFrequency(dc, 1e6).has_value());
  EXPECT_FALSE(EstimateFrequency(onePeriodAndAHalf, 1000.0).has_value());
  EXPECT_FALSE(EstimateFrequency(Sine(1, 0, 1000, 1e6, 5000), 0.0).has_value());
  EXPECT_FALSE(EstimateFrequency(Sine(1, 0, 1000, 1e6, 5000), NAN).has_value());
  // A single step has a rise time but no period, no duty cycle.
  const auto m = Measure(step, 1e6);
  EXPECT_FALSE(m.dutyCycle.has_value());
  EXPECT_TRUE(m.riseTime.has_value());
}

TEST(Measurements, EmptyAndConstantRecords) {
  const auto empty = Measure({}, 1e6);
  EXPECT_EQ(empty.count, 0u);
  EXPECT_EQ(empty.rms, 0.0);
  EXPECT_FALSE(empty.frequency.has_value());

  const std::vector<double> constant(1000, -0.3);
  const auto s = Measure(constant, 1e6);
  EXPECT_DOUBLE_EQ(s.minimum, -0.3);
  EXPECT_DOUBLE_EQ(s.maximum, -0.3);
  EXPECT_DOUBLE_EQ(s.peakToPeak, 0.0);
  EXPECT_NEAR(s.rms, 0.3, 1e-12);
  EXPECT_GE(s.acRms, 0.0);
  EXPECT_LT(s.acRms, 1e-6);
  EXPECT_FALSE(s.riseTime || s.dutyCycle || s.overshoot);
}

TEST(Measurements, SinesAndStaircasesSettleOnNoLevel) {
  // A sine, and the generator's 5 MHz staircase of ten steps at 100 MHz:
  // top and base are the extremes, so no overshoot appears.
  std::vector<double> staircase;
  for (int i = 0; i < 400; ++i) staircase.push_back(std::sin(2 * std::numbers::pi * std::floor(i / 2.0) / 10.0));
  for (const auto& v : {Quantised(Sine(1.0, 0.0, 1e6, 1e8, 400), 2.0), staircase}) {
    const auto m = Measure(v, 1e8, 2.0 / 128);
    EXPECT_DOUBLE_EQ(m.top, m.maximum);
    EXPECT_DOUBLE_EQ(m.base, m.minimum);
    EXPECT_DOUBLE_EQ(*m.overshoot, 0.0);
    EXPECT_NEAR(*m.dutyCycle, 50.0, 10.0);
  }
}

TEST(Measurements, HistoryKeepsTheLastRecordsAndSkipsMissingFigures) {
  MeasurementHistory history(3);
  const auto* frequency = FindQuantity("frequency");
  const auto* mean = FindQuantity("mean");
  ASSERT_TRUE(frequency && mean);
  EXPECT_EQ(FindQuantity("nonsense"), nullptr);
  for (const double f : {1.0, 2.0, 4.0, 6.0}) {
    Measurements m;
    m.count = 1;
    m.mean = f;
    m.frequency = rk350::tools::FrequencyEstimate{f * 100, 1};
    history.Add(m);
  }
  Measurements without;  // no frequency: counts for the mean only
  without.count = 1;
  without.mean = 8;
  history.Add(without);
  EXPECT_EQ(history.Records(), 3u);
  const auto f = history.Of(*frequency);
  EXPECT_EQ(f.count, 2u);
  EXPECT_DOUBLE_EQ(f.minimum, 400);
  EXPECT_DOUBLE_EQ(f.maximum, 600);
  EXPECT_DOUBLE_EQ(f.mean, 500);
  EXPECT_DOUBLE_EQ(f.deviation, 100);
  EXPECT_EQ(history.Of(*mean).count, 3u);
  history.Reset();
  EXPECT_EQ(history.Of(*mean).count, 0u);
}

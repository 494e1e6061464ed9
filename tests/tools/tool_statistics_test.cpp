// Summary figures and the frequency estimate of the capture tool.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "statistics.h"

using rk350::capture::ComputeStatistics;
using rk350::capture::EstimateFrequency;

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

}  // namespace

TEST(ToolStatistics, SineGivesExtremesMeanRmsAndFrequency) {
  const auto v = Sine(1.5, 0.25, 1000.0, 1e6, 20000);
  const auto s = ComputeStatistics(v, 1e6);
  EXPECT_EQ(s.count, 20000u);
  EXPECT_NEAR(s.maximum, 1.75, 1e-5);
  EXPECT_NEAR(s.minimum, -1.25, 1e-5);
  EXPECT_NEAR(s.peakToPeak, 3.0, 1e-5);
  EXPECT_NEAR(s.mean, 0.25, 1e-9);  // whole periods
  EXPECT_NEAR(s.acRms, 1.5 / std::sqrt(2.0), 1e-9);
  EXPECT_NEAR(s.rms, std::sqrt(0.25 * 0.25 + 1.5 * 1.5 / 2), 1e-9);
  ASSERT_TRUE(s.frequency.has_value());
  EXPECT_NEAR(*s.frequency, 1000.0, 0.1);
}

TEST(ToolStatistics, FrequencyOfQuantisedWaveformsWithinATenthOfAPercent) {
  struct Case {
    double frequency, rate;
    std::size_t n;
  };
  for (const Case c : {Case{1000, 1e6, 5000}, Case{12345, 1e6, 5000}, Case{3, 100, 1000}, Case{49e3, 1e6, 2000}}) {
    const auto v = Quantised(Sine(1.0, 0.0, c.frequency, c.rate, c.n), 2.0);
    const auto f = EstimateFrequency(v, c.rate);
    ASSERT_TRUE(f.has_value()) << c.frequency;
    EXPECT_NEAR(*f, c.frequency, c.frequency * 1e-3) << c.frequency;
  }
}

TEST(ToolStatistics, SquareWithUnevenDutyCycleHasItsFrequency) {
  std::vector<double> v(10000);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = (i % 400) < 100 ? 2.5 : -2.5;  // 25 % duty, 2.5 kHz at 1 MHz
  const auto f = EstimateFrequency(v, 1e6);
  ASSERT_TRUE(f.has_value());
  EXPECT_NEAR(*f, 2500.0, 0.5);
}

TEST(ToolStatistics, NoFrequencyWhereThereIsNone) {
  std::mt19937 random(7);
  std::normal_distribution<double> gauss(0.0, 0.1);
  std::vector<double> noise(5000);
  for (double& x : noise) x = gauss(random);
  std::vector<double> step(5000, 0.0);
  std::fill(step.begin() + 2500, step.end(), 1.0);
  const std::vector<double> dc(5000, 0.7);
  const auto twoPeriodsOnly = Sine(1.0, 0.0, 1.0, 1000.0, 1500, 0.0);  // 1.5 periods: one full period

  EXPECT_FALSE(EstimateFrequency(noise, 1e6).has_value());
  EXPECT_FALSE(EstimateFrequency(step, 1e6).has_value());
  EXPECT_FALSE(EstimateFrequency(dc, 1e6).has_value());
  EXPECT_FALSE(EstimateFrequency(twoPeriodsOnly, 1000.0).has_value());
  EXPECT_FALSE(EstimateFrequency(Sine(1, 0, 1000, 1e6, 5000), 0.0).has_value());
}

TEST(ToolStatistics, EmptyAndConstantRecords) {
  const auto empty = ComputeStatistics({}, 1e6);
  EXPECT_EQ(empty.count, 0u);
  EXPECT_EQ(empty.rms, 0.0);
  EXPECT_FALSE(empty.frequency.has_value());

  const std::vector<double> constant(1000, -0.3);
  const auto s = ComputeStatistics(constant, 1e6);
  EXPECT_DOUBLE_EQ(s.minimum, -0.3);
  EXPECT_DOUBLE_EQ(s.maximum, -0.3);
  EXPECT_DOUBLE_EQ(s.peakToPeak, 0.0);
  EXPECT_NEAR(s.rms, 0.3, 1e-12);
  EXPECT_GE(s.acRms, 0.0);
  EXPECT_LT(s.acRms, 1e-6);
}

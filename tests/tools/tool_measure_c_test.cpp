// The measurement module's C interface (what the Python binding loads): the
// table's figures with the summary's texts, nothing made up for a figure the
// record lacks, and unusable arguments refused without a write.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "measure_c.h"
#include "measurements.h"
#include "summary.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<rk350_measure_figure> MeasureAll(const std::vector<double>& volts, double interval, double range) {
  std::vector<rk350_measure_figure> figures(rk350_measure_count());
  const int32_t n = rk350_measure(volts.data(), static_cast<uint32_t>(volts.size()), interval, range, figures.data(),
                                  static_cast<uint32_t>(figures.size()));
  EXPECT_EQ(n, static_cast<int32_t>(figures.size()));
  return figures;
}

const rk350_measure_figure& Find(const std::vector<rk350_measure_figure>& figures, const char* key) {
  for (const auto& f : figures)
    if (std::strcmp(f.key, key) == 0) return f;
  throw std::runtime_error(key);
}

}  // namespace

TEST(MeasureC, SineGivesTheTablesFiguresWithTheSummarysTexts) {
  // 10 kHz at 1 MHz, 1 V, with the positions before 300 holding no sample.
  std::vector<double> volts(3000);
  for (std::size_t i = 0; i < volts.size(); ++i)
    volts[i] = i < 300 ? kNaN : std::round(128 * std::sin(2 * std::numbers::pi * 1e4 * i / 1e6) / 2 * 1) / 64;
  const auto figures = MeasureAll(volts, 1e-6, 2.0);
  const auto m = rk350::tools::Measure(volts, 1e6, 2.0 / 128);
  ASSERT_EQ(figures.size(), rk350::tools::Quantities().size());
  for (std::size_t i = 0; i < figures.size(); ++i) {
    const auto& q = rk350::tools::Quantities()[i];
    SCOPED_TRACE(q.key);
    EXPECT_STREQ(figures[i].key, q.key);
    EXPECT_STREQ(figures[i].label, q.label);
    EXPECT_STREQ(figures[i].unit, q.unit);
    ASSERT_EQ(figures[i].measured == 1, q.read(m).has_value());
    if (!q.read(m)) continue;
    EXPECT_EQ(figures[i].value, *q.read(m));
    EXPECT_EQ(figures[i].text, rk350::capture::FormatFigure(q, m, 1e6).value());
  }
  const auto& frequency = Find(figures, "frequency");
  ASSERT_TRUE(frequency.measured);
  EXPECT_NEAR(frequency.value, 1e4, frequency.uncertainty);
  EXPECT_EQ(frequency.uncertainty, m.frequency->uncertainty);
  const auto& period = Find(figures, "period");
  EXPECT_DOUBLE_EQ(period.uncertainty / period.value, frequency.uncertainty / frequency.value);
  EXPECT_TRUE(std::isnan(Find(figures, "rms").uncertainty));
}

TEST(MeasureC, FiguresTheRecordLacksCarryNoNumber) {
  const auto flat = MeasureAll(std::vector<double>(500, 0.25), 1e-6, 2.0);
  EXPECT_TRUE(Find(flat, "mean").measured);
  EXPECT_STREQ(Find(flat, "mean").text, "250 mV");
  for (const char* key : {"frequency", "period", "dutyCycle", "riseTime", "fallTime"}) {
    SCOPED_TRACE(key);
    EXPECT_FALSE(Find(flat, key).measured);
    EXPECT_TRUE(std::isnan(Find(flat, key).value));
    EXPECT_STREQ(Find(flat, key).text, "");
  }
  EXPECT_NE(Find(flat, "frequency").reason, nullptr);

  for (const auto& f : MeasureAll(std::vector<double>(100, kNaN), 1e-6, 2.0)) {
    SCOPED_TRACE(f.key);
    EXPECT_FALSE(f.measured);
    EXPECT_STREQ(f.reason, "no position of the record holds a sample");
  }
  // A shorter table than the module's: only that many figures, in order.
  rk350_measure_figure two[2];
  const std::vector<double> volts(10, 0.5);
  ASSERT_EQ(rk350_measure(volts.data(), 10, 1e-6, 2.0, two, 2), 2);
  EXPECT_STREQ(two[1].key, rk350::tools::Quantities()[1].key);
}

TEST(MeasureC, UnusableArgumentsAreRefusedWithoutAWrite) {
  const std::vector<double> volts(10, 0.5);
  struct Case {
    const double* volts;
    uint32_t length;
    double interval, range;
  } cases[] = {
      {nullptr, 10, 1e-6, 2.0},       {volts.data(), 10, 0.0, 2.0},      {volts.data(), 10, -1e-6, 2.0},
      {volts.data(), 10, kNaN, 2.0},  {volts.data(), 10, INFINITY, 2.0}, {volts.data(), 10, 1e-6, -2.0},
      {volts.data(), 10, 1e-6, kNaN},
  };
  for (const auto& c : cases) {
    rk350_measure_figure figure{};
    figure.value = 42.0;
    EXPECT_EQ(rk350_measure(c.volts, c.length, c.interval, c.range, &figure, 1), -1);
    EXPECT_EQ(figure.value, 42.0);
  }
  EXPECT_EQ(rk350_measure(volts.data(), 10, 1e-6, 2.0, nullptr, 0), -1);
}

TEST(ToolSummary, AChannelWithoutSamplesShowsNoFigures) {
  rk350::capture::Record r;
  r.sampleRate = 1e6;
  r.channels = {{"CH1", 2.0, std::vector<double>(100, kNaN)}};
  const std::string table = rk350::capture::FormatSummary(r);
  const std::string row = table.substr(table.find("CH1"));
  EXPECT_EQ(row.find("0 V"), std::string::npos) << table;
  EXPECT_NE(row.find("-          -          -"), std::string::npos) << table;
}

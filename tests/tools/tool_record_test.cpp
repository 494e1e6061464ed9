// Records with positions that hold no samples: the summary figures, the
// warning line and the average use only the positions that hold samples.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "measurements.h"
#include "record_average.h"
#include "summary.h"

using namespace rk350::capture;

namespace {

// A 1 V sine, 10 samples per period, whose first `empty` positions hold no
// sample.
Record SineRecord(std::size_t n, std::size_t empty) {
  Record r;
  r.sampleRate = 1000;
  r.channels = {{"CH1", 2.0, {}}};
  for (std::size_t i = 0; i < n; ++i)
    r.channels[0].volts.push_back(i < empty ? NAN : std::sin(2 * std::numbers::pi * static_cast<double>(i) / 10));
  return r;
}

TEST(ToolRecord, StatisticsLeaveOutPositionsWithoutSamples) {
  // Counted as 0 V, 900 empty positions would pull the rms of the 1 V sine
  // from 0.707 V to 0.22 V.
  const Record r = SineRecord(1000, 900);
  const auto s = rk350::tools::Measure(r.channels[0].volts, r.sampleRate);
  EXPECT_EQ(s.count, 100u);
  EXPECT_NEAR(s.rms, std::sqrt(0.5), 1e-3);
  EXPECT_NEAR(s.maximum, 1.0, 0.05);
  ASSERT_TRUE(s.frequency.has_value());
  EXPECT_NEAR(s.frequency->hertz, 100.0, 0.5);
  EXPECT_EQ(rk350::tools::Measure(SineRecord(10, 10).channels[0].volts, 1000).count, 0u);

  // Empty positions at both ends, and with a gap between samples.
  const std::vector<double> ends = {NAN, 1.0, 3.0, NAN, NAN};
  const std::vector<double> gap = {NAN, 1.0, NAN, 3.0, 5.0, NAN};
  EXPECT_EQ(rk350::tools::Measure(ends, 1000).count, 2u);
  EXPECT_DOUBLE_EQ(rk350::tools::Measure(ends, 1000).mean, 2.0);
  EXPECT_EQ(rk350::tools::Measure(gap, 1000).count, 3u);
  EXPECT_DOUBLE_EQ(rk350::tools::Measure(gap, 1000).mean, 3.0);
  EXPECT_DOUBLE_EQ(rk350::tools::Measure(gap, 1000).maximum, 5.0);
}

TEST(ToolRecord, WarningNamesEmptyPositionsAndOverrangeOnce) {
  Record r = SineRecord(1000, 300);
  EXPECT_EQ(FormatRecordWarning(SineRecord(1000, 0)), "");
  const std::string empty = FormatRecordWarning(r);
  EXPECT_NE(empty.find("CH1: 300 of 1000 positions hold no sample"), std::string::npos) << empty;
  EXPECT_EQ(std::count(empty.begin(), empty.end(), '\n'), 1);
  r.channels[0].overrange = true;
  r.channels.push_back(r.channels[0]);
  r.channels[1].name = "CH2";
  const std::string both = FormatRecordWarning(r);
  EXPECT_NE(both.find("CH1 and CH2: 300 of 1000"), std::string::npos) << both;
  EXPECT_NE(both.find("CH2 overranged"), std::string::npos) << both;
  EXPECT_EQ(std::count(both.begin(), both.end(), '\n'), 1);
}

TEST(ToolRecord, AverageOfEachPositionUsesTheRecordsThatHoldASampleThere) {
  // Record A holds positions 3.., record B every position: position 0 is B's
  // value alone, position 5 the mean of both, and a position neither holds
  // stays without a sample.
  Record a = SineRecord(8, 3), b = SineRecord(8, 0);
  for (double& v : b.channels[0].volts) v = 0.5;
  a.channels[0].volts[7] = NAN;
  b.channels[0].volts[7] = NAN;
  b.channels[0].overrange = true;
  RecordAverage average;
  average.Add(a);
  average.Add(b);
  const Record mean = average.Result();
  EXPECT_DOUBLE_EQ(mean.channels[0].volts[0], 0.5);
  EXPECT_DOUBLE_EQ(mean.channels[0].volts[5], (a.channels[0].volts[5] + 0.5) / 2);
  EXPECT_TRUE(std::isnan(mean.channels[0].volts[7]));
  EXPECT_TRUE(mean.channels[0].overrange);

  // One record comes out as it went in, positions without samples included.
  RecordAverage single;
  single.Add(a);
  const Record same = single.Result();
  ASSERT_EQ(same.channels[0].volts.size(), a.channels[0].volts.size());
  for (std::size_t i = 0; i < a.channels[0].volts.size(); ++i) {
    if (std::isnan(a.channels[0].volts[i]))
      EXPECT_TRUE(std::isnan(same.channels[0].volts[i])) << i;
    else
      EXPECT_EQ(same.channels[0].volts[i], a.channels[0].volts[i]) << i;
  }
}

}  // namespace

// CSV and SVG output of the capture tool.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <regex>
#include <set>
#include <sstream>

#include "csv_writer.h"
#include "svg_plot.h"
#include "text_output.h"

using namespace rk350::capture;

namespace {

Record TwoChannelRecord(std::size_t n, double rate, std::int64_t trigger) {
  Record r;
  r.sampleRate = rate;
  r.triggerIndex = trigger;
  r.triggerLevel = 0.5;
  r.triggerChannel = "CH1";
  r.channels = {{"CH1", 2.0, {}}, {"CH2", 0.8, {}}};
  for (std::size_t i = 0; i < n; ++i) {
    r.channels[0].volts.push_back(std::sin(static_cast<double>(i) / 10.0));
    r.channels[1].volts.push_back(-0.25);
  }
  return r;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

}  // namespace

TEST(ToolCsv, TimeColumnInSecondsWithZeroAtTheTrigger) {
  const Record r = TwoChannelRecord(4, 1e6, 1);
  std::ostringstream out;
  WriteCsv(out, r);
  std::istringstream lines(out.str());
  std::string header, first, second, third;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, third);
  EXPECT_EQ(header, "time_s,CH1_V,CH2_V");
  EXPECT_EQ(first, "-1e-06,0,-0.25");
  EXPECT_EQ(second.substr(0, 4), "0,0.");
  EXPECT_EQ(third.substr(0, 6), "1e-06,");
  EXPECT_EQ(Count(out.str(), "\n"), 5u);
}

TEST(ToolCsv, NumbersReadBackExactlyWhateverTheLocale) {
  for (double v : {0.1, -1.0 / 3.0, 1e-300, 123456789.125, -0.0}) {
    EXPECT_EQ(std::stod(FormatNumber(v)), v) << FormatNumber(v);
    EXPECT_EQ(FormatNumber(v).find(','), std::string::npos);
  }
}

TEST(ToolSvg, ShowsBothTracesAxesWithUnitsAndTheTrigger) {
  const Record r = TwoChannelRecord(500, 1e6, 125);
  PlotOptions options;
  options.title = "sine & <DC>";
  const std::string svg = RenderSvg(r, options);
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  EXPECT_EQ(Count(svg, "<polyline"), 2u);
  EXPECT_NE(svg.find("time (\xC2\xB5s), 0 = trigger"), std::string::npos);
  EXPECT_NE(svg.find("voltage (V)"), std::string::npos);
  EXPECT_NE(svg.find(">trigger<"), std::string::npos);
  EXPECT_NE(svg.find("CH1 level 0.5 V"), std::string::npos);
  EXPECT_NE(svg.find("sine &amp; &lt;DC&gt;"), std::string::npos);
  EXPECT_EQ(svg.find("<DC>"), std::string::npos);
  // Every trace point lies in the plot area's coordinates (no NaN, no inf).
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

TEST(ToolSvg, LongRecordsAreReducedPerPixelColumnKeepingThePeaks) {
  Record r = TwoChannelRecord(65520, 1e6, 0);
  r.channels.resize(1);
  r.channels[0].volts.assign(65520, 0.0);
  r.channels[0].volts[40000] = 3.0;  // one narrow spike
  const std::string svg = RenderSvg(r, PlotOptions{});
  const auto begin = svg.find("points=\"");
  const auto end = svg.find('"', begin + 8);
  const std::string points = svg.substr(begin + 8, end - begin - 8);
  EXPECT_LT(Count(points, ","), 2 * 1000u);
  // The spike's height appears among the points: the highest y is the top
  // of the data range, near the top margin.
  std::regex pair(R"(([0-9.]+),([0-9.]+))");
  double smallestY = 1e9;
  for (std::sregex_iterator it(points.begin(), points.end(), pair), stop; it != stop; ++it)
    smallestY = std::min(smallestY, std::stod((*it)[2]));
  EXPECT_LT(smallestY, 100.0);
}

// Positions the library says hold no samples (NaN) are shaded exactly, at
// the start and at the end, and carry no trace, in short and in
// column-reduced long records.
TEST(ToolSvg, EmptyPositionsAreShadedNotDrawn) {
  for (std::size_t length : {500u, 20000u}) {
    SCOPED_TRACE(length);
    Record r = TwoChannelRecord(length, 1e6, length / 4);
    r.channels.resize(1);
    r.channels[0].volts.assign(length, 1.0);
    const std::size_t leading = length / 10, trailing = 3;
    for (std::size_t i = 0; i < leading; ++i) r.channels[0].volts[i] = NAN;
    for (std::size_t i = length - trailing; i < length; ++i) r.channels[0].volts[i] = NAN;
    const std::string svg = RenderSvg(r, PlotOptions{});
    EXPECT_EQ(Count(svg, "class=\"empty\""), 2u);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    // Every point of the trace is at the 1 V level.
    const auto begin = svg.find("points=\"");
    const auto end = svg.find('"', begin + 8);
    const std::string points = svg.substr(begin + 8, end - begin - 8);
    std::regex pair(R"(([0-9.]+),([0-9.]+))");
    std::set<std::string> ys;
    for (std::sregex_iterator it(points.begin(), points.end(), pair), stop; it != stop; ++it) ys.insert((*it)[2]);
    EXPECT_EQ(ys.size(), 1u);
  }
}

TEST(ToolCsv, PositionsWithoutSampleAreEmptyCells) {
  Record r = TwoChannelRecord(4, 1e3, 1);
  r.channels[0].volts[0] = NAN;
  r.channels[1].volts[0] = NAN;
  r.channels[1].volts[3] = NAN;
  std::ostringstream out;
  WriteCsv(out, r);
  std::istringstream lines(out.str());
  std::string header, first, second, last;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, last);
  std::getline(lines, last);
  EXPECT_EQ(first, "-0.001,,");
  EXPECT_EQ(std::count(second.begin(), second.end(), ','), 2);
  EXPECT_NE(second.back(), ',');
  EXPECT_EQ(last.back(), ',');
}

TEST(ToolSvg, FlatAndEmptyRecordsStillDraw) {
  Record flat = TwoChannelRecord(10, 1.0, 5);
  flat.triggerLevel.reset();
  for (auto& c : flat.channels) c.volts.assign(10, 0.0);
  const std::string svg = RenderSvg(flat, PlotOptions{});
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_NE(svg.find("time (s)"), std::string::npos);
  EXPECT_NE(svg.find("voltage (mV)"), std::string::npos);

  Record empty;
  const std::string nothing = RenderSvg(empty, PlotOptions{});
  EXPECT_NE(nothing.find("</svg>"), std::string::npos);
  EXPECT_EQ(nothing.find("nan"), std::string::npos);
}

TEST(ToolSvg, TicksAreOneTwoFiveSteps) {
  struct Case {
    double low, high;
    int maximum;
    double step, first;
    int count;
  };
  for (const Case c : {Case{0, 10, 11, 1, 0, 11}, Case{-1.3, 1.3, 9, 0.5, -1.0, 5}, Case{-125, 375, 11, 50, -100, 10},
                       Case{0.001, 0.0049, 5, 0.001, 0.001, 4}}) {
    const auto t = NiceTicks(c.low, c.high, c.maximum);
    EXPECT_DOUBLE_EQ(t.step, c.step) << c.low << ".." << c.high;
    EXPECT_NEAR(t.first, c.first, 1e-12) << c.low << ".." << c.high;
    EXPECT_EQ(t.count, c.count) << c.low << ".." << c.high;
  }
  EXPECT_EQ(NiceTicks(1, 1, 5).count, 0);
  EXPECT_EQ(NiceTicks(NAN, 1, 5).count, 0);
  EXPECT_STREQ(ChooseTimeUnit(2.5).name, "s");
  EXPECT_STREQ(ChooseTimeUnit(0.004).name, "ms");
  EXPECT_STREQ(ChooseTimeUnit(3e-9).name, "ns");
}

// The time column is made from integers where the sample period is a short
// decimal: its text must be exactly what std::to_chars gives for the
// quotient, at every rate the card reaches and with any trigger position.
TEST(ToolCsv, TimeTextIsTheShortestTextOfTheQuotient) {
  const double rates[] = {100e6, 50e6, 25e6, 10e6,    5e6, 2.5e6, 1e6,      500e3, 294117.647058823,
                          250e3, 1e3,  1024, 1048576, 3,   1,     0.9999616};
  for (double rate : rates) {
    for (std::int64_t trigger : {std::int64_t{0}, std::int64_t{16380}, std::int64_t{65520}, std::int64_t{-7}}) {
      const SampleTimes times(rate, trigger);
      std::ostringstream out;
      {
        TextOutput text(out);
        for (std::size_t i = 0; i < 65520; ++i) {
          times.Put(text, i);
          text.Put('\n');
        }
      }
      std::istringstream lines(out.str());
      std::string line;
      for (std::size_t i = 0; i < 65520 && std::getline(lines, line); ++i) {
        char expected[32];
        const double t = (static_cast<double>(i) - static_cast<double>(trigger)) / rate;
        const auto end = std::to_chars(expected, expected + sizeof expected, t).ptr;
        ASSERT_EQ(line, std::string(expected, end)) << "rate " << rate << " trigger " << trigger << " index " << i;
      }
    }
  }
  EXPECT_TRUE(SampleTimes(50e6, 0).Exact());
  EXPECT_TRUE(SampleTimes(2.5e6, 0).Exact());
  EXPECT_FALSE(SampleTimes(294117.647058823, 0).Exact());
  EXPECT_FALSE(SampleTimes(3, 0).Exact());
}

TEST(ToolCsv, RepeatedValuesKeepTheirOwnText) {
  NumberTexts texts;
  // More distinct values than the table has slots, each seen several times.
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 5000; ++i) {
      const double v = (i - 2500) * 2.0 / 128 + round * 1e-9;
      char expected[32];
      const auto end = std::to_chars(expected, expected + sizeof expected, v).ptr;
      ASSERT_EQ(texts.Text(v), std::string_view(expected, static_cast<std::size_t>(end - expected))) << v;
    }
  }
}

TEST(ToolCsv, PositionsWithoutSamplesAreEmptyCellsAlsoForCodes) {
  Record r = TwoChannelRecord(3, 1e6, 0);
  r.channels[0].volts[1] = std::nan("");
  r.codes = {{100, 101, 102}, {7, 8, 9}};
  std::ostringstream out;
  WriteCsv(out, r, {"values: codes"});
  EXPECT_EQ(out.str(), "time_s,CH1_code,CH2_code\n# values: codes\n0,100,7\n1e-06,,8\n2e-06,102,9\n");
}

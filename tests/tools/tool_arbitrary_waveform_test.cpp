// User waveform files: the forms read, the faults refused by line, and the
// card's samples with the levels that make them the file's volts.
#include <gtest/gtest.h>

#include <string>

#include "arbitrary_waveform.h"

using rk350::tools::ParseWaveform;
using rk350::tools::ToCardWaveform;

TEST(ArbitraryWaveform, VoltsOneALineWithCommentsAndColumnNames) {
  std::string error;
  const auto w = ParseWaveform("volts\n# one period\n0.5\n\n-0.25  # low\n+1e-1\r\n", error);
  ASSERT_TRUE(w) << error;
  EXPECT_EQ(w->volts, (std::vector<double>{0.5, -0.25, 0.1}));
  EXPECT_FALSE(w->period);
}

TEST(ArbitraryWaveform, TimesAndVoltsAreResampledToOnePeriod) {
  std::string error;
  // Four samples 1 ms apart: a period of 4 ms, a ramp from 0 to 3 V and back.
  const auto w = ParseWaveform("time_s;volts\n0;0\n0.001;1\n0.002;2\n0.003;3\n", error);
  ASSERT_TRUE(w) << error;
  ASSERT_TRUE(w->period);
  EXPECT_DOUBLE_EQ(*w->period, 0.004);
  ASSERT_EQ(w->volts.size(), rk350::tools::kShortWaveformSamples);
  EXPECT_DOUBLE_EQ(w->volts[0], 0.0);
  EXPECT_DOUBLE_EQ(w->volts[128], 0.5);  // halfway between the first two
  EXPECT_DOUBLE_EQ(w->volts[768], 3.0);  // the last sample
  EXPECT_DOUBLE_EQ(w->volts[896], 1.5);  // back towards the first
}

TEST(ArbitraryWaveform, FaultsAreRefusedByLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  for (const Case c :
       {Case{"", "no samples"}, Case{"# nothing\n", "no samples"},
        Case{"1\n2,3\n", "line 2: 2 columns where the file has 1"}, Case{"0,1\n0,2\n", "line 2: times must rise"},
        Case{"1\nabc\n", "line 2: expected volts, or time and volts"},
        Case{"1,2,3\n", "line 1: expected volts, or time and volts"},
        Case{"1\nnan\n", "line 2: expected volts, or time and volts"},
        Case{"1\ninf\n", "line 2: expected volts, or time and volts"},
        Case{"0,1\n", "a waveform of times and volts needs two samples at least"}}) {
    std::string error;
    EXPECT_FALSE(ParseWaveform(c.text, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
  std::string tooLong;
  for (int i = 0; i <= 65536; ++i) tooLong += "0\n";
  std::string error;
  EXPECT_FALSE(ParseWaveform(tooLong, error));
  EXPECT_EQ(error, "more than 65536 samples (the generator's memory)");
}

TEST(ArbitraryWaveform, CardSamplesSpanTheFileWithItsLevels) {
  const auto c = ToCardWaveform({-0.5, 1.5, 0.5, 1.0});
  EXPECT_DOUBLE_EQ(c.amplitude, 1.0);
  EXPECT_DOUBLE_EQ(c.offset, 0.5);
  EXPECT_EQ(c.samples, (std::vector<std::uint16_t>{0, 65535, 32768, 49151}));
  const auto flat = ToCardWaveform({0.3, 0.3});
  EXPECT_DOUBLE_EQ(flat.amplitude, 0.0);
  EXPECT_DOUBLE_EQ(flat.offset, 0.3);
  EXPECT_EQ(flat.samples, (std::vector<std::uint16_t>{0, 0}));
}

// The recording's durations, sizes and split rule as the command line gives them.
#include <gtest/gtest.h>

#include "options.h"
#include "recording_options.h"

namespace rk350::capture {
namespace {

TEST(RecordingOptions, DurationsSizesAndSplits) {
  EXPECT_EQ(ParseDuration("10min"), 600.0);
  EXPECT_EQ(ParseDuration("90s"), 90.0);
  EXPECT_EQ(ParseDuration("1.5h"), 5400.0);
  EXPECT_EQ(ParseDuration("250ms"), 0.25);
  EXPECT_EQ(ParseDuration("12"), 12.0);
  for (const char* bad : {"", "0", "-5s", "10 min", "5parsecs", "nan", "inf", "1e300h"})
    EXPECT_FALSE(ParseDuration(bad)) << bad;

  EXPECT_EQ(ParseByteSize("500M"), 500000000u);
  EXPECT_EQ(ParseByteSize("2GB"), 2000000000u);
  EXPECT_EQ(ParseByteSize("4096"), 4096u);
  for (const char* bad : {"", "0", "-1M", "0.5", "3X", "1e30T"}) EXPECT_FALSE(ParseByteSize(bad)) << bad;

  const auto bySize = ParseSplit("100M");
  ASSERT_TRUE(bySize);
  EXPECT_EQ(bySize->bytes, 100000000u);
  EXPECT_EQ(bySize->seconds, 0.0);
  const auto byTime = ParseSplit("10min");
  ASSERT_TRUE(byTime);
  EXPECT_EQ(byTime->bytes, 0u);
  EXPECT_EQ(byTime->seconds, 600.0);
  EXPECT_FALSE(ParseSplit("soon"));
}

TEST(RecordingOptions, RecordingOptionsNeedTheirRun) {
  const struct {
    std::vector<std::string> arguments;
    const char* error;  // part of it; empty: accepted
  } kCases[] = {
      {{"--continuous", "--record", "run.h5", "--count", "1000"}, ""},
      {{"--continuous", "--record", "run.h5", "--duration", "10min", "--split", "1G", "--max-size", "5G"}, ""},
      {{"--record", "run.h5"}, "--record keeps the records of --continuous"},
      {{"--continuous", "--duration", "10s"}, "give --record FILE"},
      {{"--continuous", "--split", "100M"}, "give --record FILE"},
      {{"--continuous", "--record", "-"}, "needs a file name"},
      {{"--continuous", "--record", "out/"}, "needs a file name"},
      {{"--continuous", "--record", "run.h5", "--duration", "later"}, "invalid duration"},
  };
  for (const auto& c : kCases) {
    const ParseResult result = ParseArguments(c.arguments);
    if (*c.error == '\0') {
      EXPECT_EQ(result.error, "") << c.arguments.back();
    } else {
      EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    }
  }
}

}  // namespace
}  // namespace rk350::capture

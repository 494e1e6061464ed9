// Generator clock: prescaler index and phase increment bytes in short- and
// long-memory mode, the 5 MHz limit, and increments without an integer part.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::MessageBoxCapture;
using testing::RecordedBus;

struct ClockWrites {
  uint8_t low, mid, high, index;
  std::vector<uint8_t> control;
};

ClockWrites Written(const card::PortRecorder& recorder) {
  ClockWrites w{};
  for (const auto& [reg, value] : recorder.RegisterTrace()) {
    if (reg == 34) w.low = value;
    if (reg == 35) w.mid = value;
    if (reg == 36) w.high = value;
    if (reg == 30) w.index = value;
    if (reg == 31) w.control.push_back(value);
  }
  return w;
}

class GeneratorClock : public ::testing::Test {
 protected:
  RecordedBus bus;
  TRK350 instrument{nullptr};
};

struct ShortCase {
  Extended hertz;
  uint8_t index, low, mid, high;
};

TEST_F(GeneratorClock, ShortMemoryPicksTheFastestClockWithAnIncrementOfAtLeast10000) {
  const ShortCase cases[] = {
      // 1 kHz: 745.058 <= 1000 < 1490.12, index 6 (625 kHz), N = 13421.77.
      {1000.0L, 6, 0x6D, 0x34, 0x00},
      // 5 MHz: index 1 (25 MHz), N = 1677721.6.
      {5000000.0L, 1, 0x99, 0x99, 0x19},
      // Just above the index-1 threshold 29802.32 Hz: N = 10000.22.
      {29803.0L, 1, 0x10, 0x27, 0x00},
      // Just below it: index 2 (10 MHz), N = 24999.73.
      {29802.0L, 2, 0xA7, 0x61, 0x00},
      // 0.01 Hz lies below every threshold: index 14, N = 2199.02.
      {0.01L, 14, 0x97, 0x08, 0x00},
      // 0.2 Hz (the parked generator): index 14, N = 43980.47.
      {0.2L, 14, 0xCC, 0xAB, 0x00},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<double>(c.hertz));
    bus.Recorder().Clear();
    Extended f = c.hertz;
    instrument.ProgramGenClock(f);
    const ClockWrites w = Written(bus.Recorder());
    EXPECT_EQ(w.index, c.index);
    EXPECT_EQ(w.low, c.low);
    EXPECT_EQ(w.mid, c.mid);
    EXPECT_EQ(w.high, c.high);
    EXPECT_EQ(w.control, (std::vector<uint8_t>{0x56, 0x56, 0x57}));
    EXPECT_EQ(f, c.hertz);
  }
}

TEST_F(GeneratorClock, ShortMemoryWritesIncrementThenIndexThenControlInThisOrder) {
  bus.Recorder().Clear();
  Extended f = 1000.0L;
  instrument.ProgramGenClock(f);
  EXPECT_EQ(bus.Recorder().Text(),
            "reg 34 = 0x6D\nreg 35 = 0x34\nreg 36 = 0x00\nreg 30 = 0x06\n"
            "reg 31 = 0x56\nreg 31 = 0x56\nreg 31 = 0x57\n");
}

TEST_F(GeneratorClock, ShortMemoryLowersFrequenciesAbove5MHzInTheCallersVariable) {
  Extended f = 8000000.0L;
  instrument.ProgramGenClock(f);
  EXPECT_EQ(f, 5000000.0L);
  const ClockWrites w = Written(bus.Recorder());
  EXPECT_EQ(w.index, 1);
  EXPECT_EQ(w.high, 0x19);
}

TEST_F(GeneratorClock, LongMemoryChoosesTheSampleClockAndKeepsTheIncrementAtOneSample) {
  instrument.GenWaveLength = 300;
  const std::pair<Extended, uint8_t> cases[] = {
      {60000000.0L, 0}, {50000000.0L, 0}, {49999999.0L, 1}, {1000000.0L, 6}, {9765.625L, 11},
      {2440.0L, 12},    {2439.0L, 13},    {610.0L, 13},     {609.0L, 14},    {10.0L, 14},
  };
  for (const auto& [hertz, index] : cases) {
    SCOPED_TRACE(static_cast<double>(hertz));
    bus.Recorder().Clear();
    Extended f = hertz;
    instrument.ProgramGenClock(f);
    EXPECT_EQ(f, hertz);  // not lowered
    const ClockWrites w = Written(bus.Recorder());
    EXPECT_EQ(w.index, index);
    EXPECT_EQ(w.low, 0x80);
    EXPECT_EQ(w.mid, 0);
    EXPECT_EQ(w.high, 0);
    EXPECT_EQ(w.control, (std::vector<uint8_t>{0x56, 0x5E, 0x5F}));
  }
}

// An increment without an integer part is reported once per byte, with the
// increment in general format, and the sequence goes on with 0 in its place.
TEST_F(GeneratorClock, NotANumberIncrementShowsTheThreeMessagesAndWritesZeros) {
  MessageBoxCapture boxes;
  Extended f = std::numeric_limits<Extended>::quiet_NaN();
  bus.Recorder().Clear();
  instrument.ProgramGenClock(f);
  ASSERT_EQ(boxes.Texts().size(), 3u);
  EXPECT_EQ(boxes.Texts()[0].rfind("DeeltalHigh ", 0), 0u);
  EXPECT_EQ(boxes.Texts()[1].rfind("DeeltalMid ", 0), 0u);
  EXPECT_EQ(boxes.Texts()[2].rfind("DeeltalLow ", 0), 0u);
  EXPECT_NE(boxes.Texts()[0].find("nan"), std::string::npos);
  EXPECT_EQ(bus.Recorder().Text(),
            "reg 34 = 0x00\nreg 35 = 0x00\nreg 36 = 0x00\nreg 30 = 0x0E\n"
            "reg 31 = 0x56\nreg 31 = 0x56\nreg 31 = 0x57\n");
}

TEST_F(GeneratorClock, IncrementBeyondSixtyFourBitsIsReportedWithItsValue) {
  MessageBoxCapture boxes;
  Extended f = -1e30L;  // reaches the instrument only through a direct call
  instrument.ProgramGenClock(f);
  ASSERT_EQ(boxes.Texts().size(), 3u);
  // N = 8388608 / 38.14697265625 * -1e30 = -2.199023255552e35.
  EXPECT_EQ(boxes.Texts()[0], "DeeltalHigh -2.199023255552e+35");
  EXPECT_EQ(boxes.Texts()[2], "DeeltalLow -2.199023255552e+35");
}

TEST_F(GeneratorClock, OrdinaryIncrementsShowNoMessage) {
  MessageBoxCapture boxes;
  for (Extended f : {0.0L, 1.0L, 1000.0L, 5000000.0L}) instrument.ProgramGenClock(f);
  EXPECT_TRUE(boxes.Texts().empty());
}

}  // namespace
}  // namespace rk350

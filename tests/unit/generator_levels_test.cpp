// Generator levels: range choice at the extended thresholds, the coarse and
// fine codes from the calibration's step tables, and the serial DAC words.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "support/generator_calibration.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;

// The DAC word (channel, value) sent by each ShiftGenDac, in order, decoded
// from the register 0 traffic: bits are taken on the rising clock line and
// the word on the rising load line.
std::vector<std::pair<int, int>> SentDacWords(const card::PortRecorder& recorder) {
  std::vector<std::pair<int, int>> words;
  uint8_t previous = 0;
  unsigned shift = 0;
  int bits = 0;
  for (const auto& [reg, value] : recorder.RegisterTrace()) {
    if (reg != 0) continue;
    if ((previous & 0x20) == 0 && (value & 0x20) != 0) {
      shift = (shift << 1 | (value >> 7)) & 0x7FF;
      ++bits;
    }
    if ((previous & 0x40) == 0 && (value & 0x40) != 0 && bits > 0) {
      EXPECT_EQ(bits, 11);
      words.emplace_back(shift >> 8, shift & 0xFF);
      bits = 0;
    }
    previous = value;
  }
  return words;
}

class GeneratorLevels : public ::testing::Test {
 protected:
  GeneratorLevels() { testing::LoadGeneratorCalibration(instrument, card::EepromImage::Default()); }
  RecordedBus bus;
  TRK350 instrument{nullptr};
};

TEST_F(GeneratorLevels, ShiftGenDacClocksElevenBitsMsbFirstThenLoadsAndSelectsTheRange) {
  bus.Recorder().Clear();
  instrument.ShiftGenDac(0x527, 5);  // channel 5, value 0x27: 101 0010 0111
  const std::string expected =
      "reg 0 = 0x40\n"
      "reg 0 = 0x80\nreg 0 = 0xA0\n"  // bit 10: 1
      "reg 0 = 0x00\nreg 0 = 0x20\n"  // bit 9: 0
      "reg 0 = 0x80\nreg 0 = 0xA0\n"  // bit 8: 1
      "reg 0 = 0x00\nreg 0 = 0x20\n"  // bit 7: 0
      "reg 0 = 0x00\nreg 0 = 0x20\n"  // bit 6: 0
      "reg 0 = 0x80\nreg 0 = 0xA0\n"  // bit 5: 1
      "reg 0 = 0x00\nreg 0 = 0x20\n"  // bit 4: 0
      "reg 0 = 0x00\nreg 0 = 0x20\n"  // bit 3: 0
      "reg 0 = 0x80\nreg 0 = 0xA0\n"  // bit 2: 1
      "reg 0 = 0x80\nreg 0 = 0xA0\n"  // bit 1: 1
      "reg 0 = 0x80\nreg 0 = 0xA0\n"  // bit 0: 1
      "reg 0 = 0x80\n"                // clock low, data of the last bit
      "reg 0 = 0xC0\n"                // load
      "reg 37 = 0x05\n";
  EXPECT_EQ(bus.Recorder().Text(), expected);
}

// 2.5 V / 0 V with the default calibration (steps 0.04 V, span 0.0405 V,
// amplitude zero 0.2 mV; offset steps 0.08 V, span 0.081 V, high-range zero
// 12.3 mV): amplitude target 2.5002 V = 62 steps (coarse 63) + 0.0202 V,
// fine 255 - rnd(127.19) = 128; offset target 10.0123 V = 125 steps +
// 0.0123 V, fine rnd(38.72) = 39.
TEST_F(GeneratorLevels, SquareWaveLevelsGiveTheseSixDacWordsInTheHighRange) {
  bus.Recorder().Clear();
  instrument.ProgramGenLevels(2.5L, 0.0L);
  const std::vector<std::pair<int, int>> expected = {{0, 64}, {4, 62}, {2, 128}, {3, 126}, {1, 124}, {5, 39}};
  EXPECT_EQ(SentDacWords(bus.Recorder()), expected);
  EXPECT_EQ(bus.Recorder().RegisterWrites(37), std::vector<uint8_t>(6, 5));
  // 6 words of 26 register writes each: 156 register writes, 312 port writes.
  EXPECT_EQ(bus.Recorder().RegisterTrace().size(), 6u * 26u);
}

// Low range, 50 mV / 1 V: gain 100, so the DAC target is
// (0.05 + 0.0002 / 100) * 100 = 5.0002 V = 125 steps (coarse 126) + 0.2 mV,
// fine 255 - rnd(1.26) = 254; offset zero -1.7 mV: T = 8.9983 V = 112 steps
// + 0.0383 V, fine rnd(120.57) = 121.
TEST_F(GeneratorLevels, SmallAmplitudeUsesTheLowRangeGainAndOffsetZero) {
  bus.Recorder().Clear();
  instrument.ProgramGenLevels(0.05L, 1.0L);
  const std::vector<std::pair<int, int>> expected = {{0, 127}, {4, 125}, {2, 254}, {3, 113}, {1, 111}, {5, 121}};
  EXPECT_EQ(SentDacWords(bus.Recorder()), expected);
  EXPECT_EQ(bus.Recorder().RegisterWrites(37), std::vector<uint8_t>(6, 0));
}

struct RangeCase {
  const char* name;
  Extended amplitude;
  uint8_t range;
};

class GeneratorRangeSwitch : public GeneratorLevels, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(GeneratorRangeSwitch, SelectsTheRangeAtTheExtendedThresholds) {
  bus.Recorder().Clear();
  instrument.ProgramGenLevels(GetParam().amplitude, 0.0L);
  EXPECT_EQ(bus.Recorder().RegisterWrites(37), std::vector<uint8_t>(6, GetParam().range));
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, GeneratorRangeSwitch,
    ::testing::Values(RangeCase{"Extended009", 0.09L, 0}, RangeCase{"Above009", 0.0901L, 6},
                      RangeCase{"Double009IsBelowTheExtendedValue", static_cast<Extended>(0.09), 0},
                      RangeCase{"Extended09", 0.9L, 6}, RangeCase{"Double09IsAboveTheExtendedValue", 0.9, 5},
                      RangeCase{"Above09", 0.9001L, 5}, RangeCase{"Negative", -5.0L, 0},
                      RangeCase{"NotANumber", std::numeric_limits<Extended>::quiet_NaN(), 0},
                      RangeCase{"AboveTen", 12.0L, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GeneratorLevels, DcSignalProgramsZeroAmplitudeInTheLowRange) {
  instrument.GenSignalType = gsDC;
  bus.Recorder().Clear();
  instrument.ProgramGenLevels(5.0L, 0.0L);
  EXPECT_EQ(bus.Recorder().RegisterWrites(37), std::vector<uint8_t>(6, 0));
  instrument.GenSignalType = gsSine;
  RecordedBus zero;
  instrument.ProgramGenLevels(0.0L, 0.0L);
  EXPECT_EQ(SentDacWords(bus.Recorder()), SentDacWords(zero.Recorder()));
}

TEST_F(GeneratorLevels, NegativeAmplitudeAndOutOfRangeOffsetAreLimited) {
  instrument.ProgramGenLevels(-1.0L, 25.0L);
  const auto limited = SentDacWords(bus.Recorder());
  RecordedBus again;
  instrument.ProgramGenLevels(0.0L, 10.0L);
  EXPECT_EQ(limited, SentDacWords(again.Recorder()));
  RecordedBus low;
  instrument.ProgramGenLevels(0.0L, -25.0L);
  RecordedBus lowLimit;
  instrument.ProgramGenLevels(0.0L, -10.0L);
  EXPECT_EQ(SentDacWords(low.Recorder()), SentDacWords(lowLimit.Recorder()));
}

// A calibration whose rows and segments differ, so that every row of both
// step tables and the segment boundary at code 19 change the codes.
// Amplitude table (units of 2.5 uV): steps row 0 = 4000 (6000 from segment
// 2), row 1 = 40000, row 2 = 8000, row 3 = 12000 (14000 from segment 2);
// spans row 4 = 40000, row 5 = 20000, row 6 = 10000. Offset table (units of
// 10 uV): steps row 0 = 3000 (5000 from segment 2), row 1 = 30000, row 2 =
// 6000, row 3 = 9000; spans row 4 = 20000, row 5 = 40000, row 6 = 10000.
// Middle range with gain 1 and all zeros 0, so targets reach the DACs as they
// are.
class GeneratorCodeClasses : public GeneratorLevels {
 protected:
  GeneratorCodeClasses() {
    const int amp[7] = {4000, 40000, 8000, 12000, 40000, 20000, 10000};
    const int off[7] = {3000, 30000, 6000, 9000, 20000, 40000, 10000};
    for (int entry = 1; entry <= 15; ++entry) {
      for (int row = 0; row <= 6; ++row) {
        instrument.GenAmpStepTable[row][entry] = static_cast<uint16_t>(amp[row]);
        instrument.GenOffsetStepTable[row][entry] = static_cast<uint16_t>(off[row]);
      }
      if (entry >= 2) {
        instrument.GenAmpStepTable[0][entry] = 6000;
        instrument.GenAmpStepTable[3][entry] = 14000;
        instrument.GenOffsetStepTable[0][entry] = 5000;
      }
    }
    instrument.GenGainMid = 1000;
    instrument.GenAmpZero = 0;
    instrument.GenOffsetZeroMid = 0;
  }
};

struct AmplitudeCodeCase {
  Extended amplitude;
  int coarse;
  int fine;
};

TEST_F(GeneratorCodeClasses, AmplitudeCoarseAndFineCodesFollowTheRowsAndSegments) {
  // Cumulative steps 2..p: code 2 (row 3) 0.03, codes 3..14 (row 0) +0.01
  // each = 0.15, code 15 (row 1) 0.25, 16 0.26, 17 (row 2) 0.28, 18 (row 3)
  // 0.31, 19 (segment 2, row 0) 0.325, 20 0.34 ...
  const AmplitudeCodeCase cases[] = {
      {0.137L, 12, 237},   // 0.13 + 0.007 over the row-4 span 0.1: rnd(17.85) = 18
      {0.23L, 14, 51},     // the row-1 step at code 15 does not fit: rnd(204) = 204
      {0.2537L, 15, 236},  // span at code 15 is row 5 (0.05): rnd(18.87) = 19
      {0.262L, 16, 235},   // span at code 16 is row 6 (0.025): rnd(20.4) = 20
      {0.291L, 17, 227},   // 0.28 + 0.011 / 0.1: rnd(28.05) = 28
      {0.3212L, 18, 226},  // 0.31 + 0.0112 / 0.1: rnd(28.56) = 29
      {0.4444L, 26, 218},  // segment 2: 0.43 + 0.0144 / 0.1: rnd(36.72) = 37
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<double>(c.amplitude));
    bus.Recorder().Clear();
    instrument.ProgramGenLevels(c.amplitude, 0.0L);
    const auto words = SentDacWords(bus.Recorder());
    ASSERT_EQ(words.size(), 6u);
    EXPECT_EQ(words[0], std::make_pair(0, c.coarse + 1));
    EXPECT_EQ(words[1], std::make_pair(4, c.coarse - 1));
    EXPECT_EQ(words[2], std::make_pair(2, c.fine));
  }
}

TEST_F(GeneratorCodeClasses, OffsetCoarseAndFineCodesFollowTheRowsAndSegments) {
  // Offset target T = 10 - offset. Cumulative steps 1..q: code 1 (row 2)
  // 0.06, code 2 (row 3) 0.15, codes 3..14 +0.03 = 0.51, code 15 (row 1)
  // 0.81, 16 0.84, ...
  const AmplitudeCodeCase cases[] = {
      {0.1713L, 2, 54},   // 0.15 + 0.0213 over the row-6 span 0.1: rnd(54.32)
      {0.3713L, 9, 29},   // 0.36 + 0.0113 / 0.1: rnd(28.82)
      {0.5088L, 13, 73},  // 0.48 + 0.0288 / 0.1: rnd(73.44)
      {0.8234L, 15, 17},  // span at code 15 is row 4 (0.2): rnd(17.09)
      {0.8512L, 16, 7},   // span at code 16 is row 5 (0.4): rnd(7.14)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<double>(c.amplitude));
    bus.Recorder().Clear();
    instrument.ProgramGenLevels(0.5L, 10.0L - c.amplitude);
    const auto words = SentDacWords(bus.Recorder());
    ASSERT_EQ(words.size(), 6u);
    EXPECT_EQ(words[3], std::make_pair(3, c.coarse + 1));
    EXPECT_EQ(words[4], std::make_pair(1, c.coarse - 1));
    EXPECT_EQ(words[5], std::make_pair(5, c.fine));
  }
}

TEST_F(GeneratorLevels, EmptyCalibrationFallsBackToFineCodes255AndOne) {
  // No calibration: every step and span is 0, every gain 0. The divisions
  // fail and are caught: amplitude fine value 0 (code 255), offset fine 1.
  TRK350 blank(nullptr);
  bus.Recorder().Clear();
  blank.ProgramGenLevels(0.05L, 0.0L);
  const auto words = SentDacWords(bus.Recorder());
  ASSERT_EQ(words.size(), 6u);
  EXPECT_EQ(words[0], std::make_pair(0, 255));  // all steps 0: the coarse code runs to 254
  EXPECT_EQ(words[2], std::make_pair(2, 255));
  EXPECT_EQ(words[5], std::make_pair(5, 1));
}

TEST_F(GeneratorLevels, WritersLimitTheCodesToTheirDacs) {
  bus.Recorder().Clear();
  instrument.WriteGenAmplitudeDacs(-40, 0, 0);
  instrument.WriteGenOffsetDacs(300, 999, 0);
  const std::vector<std::pair<int, int>> expected = {{0, 2}, {4, 0}, {2, 0}, {3, 255}, {1, 253}, {5, 255}};
  EXPECT_EQ(SentDacWords(bus.Recorder()), expected);
}

}  // namespace
}  // namespace rk350

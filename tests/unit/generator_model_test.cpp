// The virtual card's generator: what it makes of the library's register
// sequences (levels, memory, clock), and its output over virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/generator_calibration.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;

class GeneratorModelTest : public ::testing::Test {
 protected:
  GeneratorModelTest() { testing::LoadGeneratorCalibration(instrument, card::EepromImage::Default()); }
  card::GeneratorModel& Model() { return bus.Card().Generator(); }
  // Lowest and highest output over one period, sampled finely.
  std::pair<double, double> Swing(double period) {
    double low = 1e9, high = -1e9;
    for (int i = 0; i < 4096; ++i) {
      const double v = Model().OutputVolts(1.0 + period * i / 4096);
      low = std::min(low, v);
      high = std::max(high, v);
    }
    return {low, high};
  }
  RecordedBus bus;
  TRK350 instrument{nullptr};
};

TEST_F(GeneratorModelTest, PowerOnOutputIsZeroUntilTheLevelsAreLoaded) {
  EXPECT_FALSE(Model().Output().levelsLoaded);
  EXPECT_FALSE(Model().Output().running);
  EXPECT_EQ(Model().OutputVolts(0.5), 0.0);
}

struct LevelCase {
  Extended amplitude, offset;
  uint8_t range;
};

// The card's level DACs, read with the card's own calibration, give back the
// programmed amplitude and offset to within half a fine DAC step (amplitude:
// 0.16 mV in the high range, 16 uV middle, 1.6 uV low; offset: 0.32 mV).
TEST_F(GeneratorModelTest, DecodedLevelsMatchTheProgrammedOnesInEveryRange) {
  const LevelCase cases[] = {{0.05L, 1.0L, 0}, {0.0L, -5.0L, 0}, {0.5L, -2.0L, 6}, {0.9L, 3.3L, 6},
                             {2.5L, 0.0L, 5},  {7.3L, 2.2L, 5},  {9.9L, -9.9L, 5}, {10.0L, 9.5L, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<double>(c.amplitude));
    instrument.ProgramGenLevels(c.amplitude, c.offset);
    const card::GeneratorOutput out = Model().Output();
    ASSERT_TRUE(out.levelsLoaded);
    EXPECT_EQ(out.range, c.range);
    EXPECT_NEAR(out.amplitudeVolts, static_cast<double>(c.amplitude), 0.0001);
    EXPECT_NEAR(out.offsetVolts, static_cast<double>(c.offset), 0.0002);
  }
}

TEST_F(GeneratorModelTest, TheCardsOwnCalibrationSetsTheVolts) {
  // A card whose low-range gain is 10 % above what the library believes puts
  // out 10 % less amplitude there.
  card::EepromImage image = card::EepromImage::Default();
  image.SetWord(card::eeprom_layout::kGenGainLow, 11000);
  Model().AttachCalibration(&image);
  instrument.ProgramGenLevels(0.05L, 0.0L);
  EXPECT_NEAR(Model().Output().amplitudeVolts, (0.05 * 100 + 0.0002) / 110 - 0.0002 / 110, 0.00001);
  Model().AttachCalibration(nullptr);
}

TEST_F(GeneratorModelTest, ShortMemoryFrequencyFollowsClockAndIncrement) {
  instrument.SetGenFrequency(1000.0L);
  instrument.SetGenOutputOn(true);
  const card::GeneratorOutput out = Model().Output();
  EXPECT_TRUE(out.running);
  EXPECT_FALSE(out.longMemory);
  EXPECT_EQ(out.clockSelect, 6);
  EXPECT_EQ(out.increment, 13421u);
  EXPECT_EQ(out.sweepSamples, 1024u);
  EXPECT_DOUBLE_EQ(out.frequencyHz, 625000.0 * 13421 / 8388608);
  EXPECT_NEAR(out.frequencyHz, 1000.0, 0.1);
}

TEST_F(GeneratorModelTest, LongMemorySweepsTheLoadedSamplesAtTheSampleClock) {
  std::vector<uint16_t> ramp(300);
  for (int i = 0; i < 300; ++i) ramp[i] = static_cast<uint16_t>(i * 200);
  instrument.FuncGenMemoryLength = 300;
  instrument.LoadGenUserWaveform(ramp.data(), 300);
  instrument.SetGenFrequency(1000000.0L);
  instrument.SetGenAmplitude(1.0L);
  instrument.SetGenSignalType(gsArbitrary);
  instrument.SetGenOutputOn(true);
  const card::GeneratorOutput out = Model().Output();
  EXPECT_TRUE(out.longMemory);
  EXPECT_EQ(out.sweepSamples, 300u);
  EXPECT_DOUBLE_EQ(out.sampleClockHz, 625000.0);
  EXPECT_DOUBLE_EQ(out.frequencyHz, 625000.0 / 300);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Model().MemorySample(i), (65535 - i * 200) >> 2) << i;
  // One sample per clock: sample 10 is out 10 clocks after the sweep start.
  const double t = 3.0 * 300 / 625000 + 10.5 / 625000;
  EXPECT_NEAR(Model().OutputVolts(t), -1.0 + 2.0 * (10 * 200) / 65535, 0.001);
}

TEST_F(GeneratorModelTest, SineSwingsFromOffsetMinusToPlusAmplitudeStartingAtTheBottom) {
  instrument.SetGenFrequency(1000.0L);
  instrument.SetGenAmplitude(1.0L);
  instrument.SetGenDCOffset(0.5L);
  instrument.SetGenOutputOn(true);
  const auto [low, high] = Swing(0.001);
  EXPECT_NEAR(low, -0.5, 0.001);
  EXPECT_NEAR(high, 1.5, 0.001);
  EXPECT_NEAR(Model().OutputVolts(0.0), -0.5, 0.001);  // memory sample 0 holds 16383
}

TEST_F(GeneratorModelTest, SquareSymmetryIsTheShareOfThePeriodAtTheTop) {
  instrument.SetGenFrequency(1000.0L);
  instrument.SetGenAmplitude(2.0L);
  instrument.SetGenSignalType(gsSquare);
  instrument.SetGenSymmetry(0.25L);
  instrument.SetGenOutputOn(true);
  const double period = 1.0 / Model().Output().frequencyHz;
  int top = 0;
  const int n = 10000;
  for (int i = 0; i < n; ++i) top += Model().OutputVolts(2.0 + period * i / n) > 0 ? 1 : 0;
  EXPECT_NEAR(top / static_cast<double>(n), 0.25, 0.002);
}

TEST_F(GeneratorModelTest, MeanFollowsTheWaveformAndItsLevels) {
  instrument.SetGenFrequency(1000.0L);
  instrument.SetGenAmplitude(2.0L);
  instrument.SetGenDCOffset(0.5L);
  instrument.SetGenSignalType(gsSquare);
  instrument.SetGenSymmetry(0.25L);
  instrument.SetGenOutputOn(true);
  EXPECT_NEAR(Model().MeanVolts(), 0.5 + 2.0 * (0.25 - 0.75), 0.001);  // a quarter at the top
  instrument.SetGenSymmetry(0.5L);
  EXPECT_NEAR(Model().MeanVolts(), 0.5, 0.001);
  instrument.SetGenDCOffset(-1.0L);
  EXPECT_NEAR(Model().MeanVolts(), -1.0, 0.001);
}

TEST_F(GeneratorModelTest, DcPutsOutTheOffsetAlone) {
  instrument.SetGenAmplitude(3.0L);
  instrument.SetGenDCOffset(-1.25L);
  instrument.SetGenSignalType(gsDC);
  instrument.SetGenOutputOn(true);
  const auto [low, high] = Swing(0.01);
  EXPECT_NEAR(low, -1.25, 0.0005);
  EXPECT_NEAR(high, -1.25, 0.0005);
}

TEST_F(GeneratorModelTest, OutputOffHoldsZeroVolts) {
  instrument.SetGenAmplitude(3.0L);
  instrument.SetGenOutputOn(true);
  instrument.SetGenOutputOn(false);
  const auto [low, high] = Swing(0.01);
  EXPECT_NEAR(low, 0.0, 0.001);
  EXPECT_NEAR(high, 0.0, 0.001);
}

TEST_F(GeneratorModelTest, FrontEndUseOfRegisterZeroNeverLoadsAGeneratorWord) {
  instrument.ProgramGenLevels(2.5L, 1.0L);
  const card::GeneratorOutput before = Model().Output();
  // Front-end style traffic: idle, selects and strobes, with the clock and
  // load lines of the generator DAC held high, then low and high again.
  for (uint8_t v : {0x76, 0x74, 0x76, 0x66, 0x76, 0x77, 0x76, 0x00, 0x76}) instrument.WriteRegister(0, v);
  EXPECT_EQ(Model().Output().amplitudeVolts, before.amplitudeVolts);
  EXPECT_EQ(Model().Output().offsetVolts, before.offsetVolts);
  // And a generator word sent afterwards still lands whole.
  instrument.ProgramGenLevels(0.5L, -1.0L);
  EXPECT_NEAR(Model().Output().amplitudeVolts, 0.5, 0.0001);
  EXPECT_NEAR(Model().Output().offsetVolts, -1.0, 0.0002);
}

TEST_F(GeneratorModelTest, StoppedClockHoldsTheOutput) {
  instrument.SetGenAmplitude(1.0L);
  instrument.SetGenOutputOn(true);
  instrument.WriteRegister(30, 15);
  EXPECT_FALSE(Model().Output().running);
  // Equal up to rounding: 32-bit x86 may keep one of the two in an 80-bit register.
  EXPECT_DOUBLE_EQ(Model().OutputVolts(1.0), Model().OutputVolts(1.0003));
}

}  // namespace
}  // namespace rk350

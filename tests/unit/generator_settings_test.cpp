// Generator settings: what each setter writes to the card with the output on
// and off, and what it leaves alone.
#include <gtest/gtest.h>

#include <limits>

#include "support/generator_calibration.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;

constexpr Extended kNaN = std::numeric_limits<Extended>::quiet_NaN();

class GeneratorSettings : public ::testing::Test {
 protected:
  GeneratorSettings() {
    testing::LoadGeneratorCalibration(instrument, card::EepromImage::Default());
    instrument.SettingsDirty = false;
    instrument.nCalculations = 7;
    bus.Recorder().Clear();
  }
  size_t Writes(uint8_t reg) { return bus.Recorder().RegisterWrites(reg).size(); }
  bool LevelsOnly() {
    for (const auto& [reg, value] : bus.Recorder().RegisterTrace()) {
      if (reg != 0 && reg != 37) return false;
    }
    return Writes(37) == 6;
  }
  void SwitchOn() {
    instrument.SetGenOutputOn(true);
    bus.Recorder().Clear();
  }
  RecordedBus bus;
  TRK350 instrument{nullptr};
};

TEST_F(GeneratorSettings, FrequencyWithTheOutputOffIsOnlyStored) {
  instrument.SetGenFrequency(1000.0L);
  EXPECT_EQ(instrument.GenFrequency, 1000.0L);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(GeneratorSettings, SwitchingOnProgramsLevelsMemoryAndClockFromTheStoredState) {
  instrument.SetGenFrequency(1000.0L);
  instrument.SetGenOutputOn(true);
  EXPECT_EQ(Writes(37), 6u);
  EXPECT_EQ(Writes(32), 1024u);  // the computed sine
  const auto trace = bus.Recorder().RegisterTrace();
  // The clock comes last: increment 13421.77, index 6, then the control bytes.
  const std::vector<std::pair<uint8_t, uint8_t>> tail(trace.end() - 7, trace.end());
  const std::vector<std::pair<uint8_t, uint8_t>> expected = {{34, 0x6D}, {35, 0x34}, {36, 0x00}, {30, 6},
                                                             {31, 0x56}, {31, 0x56}, {31, 0x57}};
  EXPECT_EQ(tail, expected);
}

TEST_F(GeneratorSettings, FrequencyAbove5MHzWithTheOutputOnIsLowered) {
  SwitchOn();
  instrument.SetGenFrequency(8000000.0L);
  EXPECT_EQ(instrument.GenFrequency, 5000000.0L);
  EXPECT_EQ(bus.Recorder().RegisterWrites(30), std::vector<uint8_t>{1});
  EXPECT_EQ(Writes(37), 0u);  // only the clock
}

TEST_F(GeneratorSettings, AmplitudeReprogramsOnlyTheLevelsAndOnlyWhileOn) {
  instrument.SetGenAmplitude(1.0L);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_EQ(instrument.GenAmplitude, 1.0L);
  SwitchOn();
  instrument.SetGenAmplitude(2.0L);
  EXPECT_TRUE(LevelsOnly());
  EXPECT_EQ(bus.Recorder().RegisterWrites(37), std::vector<uint8_t>(6, 5));
}

TEST_F(GeneratorSettings, OffsetAndOptionWithTheOutputOffProgramZeroLevels) {
  instrument.SetGenAmplitude(2.0L);
  instrument.SetGenDCOffset(3.0L);
  EXPECT_TRUE(LevelsOnly());
  EXPECT_EQ(bus.Recorder().RegisterWrites(37), std::vector<uint8_t>(6, 0));  // 0 V: low range
  bus.Recorder().Clear();
  instrument.SetGenOption(9);
  EXPECT_TRUE(LevelsOnly());
  EXPECT_EQ(instrument.GenOption, 9);
  bus.Recorder().Clear();
  instrument.SetGenOption(9);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(GeneratorSettings, SymmetryWithTheOutputOffProgramsLevelsAndClockButNoMemory) {
  instrument.SetGenSymmetry(0.3L);
  EXPECT_EQ(Writes(37), 6u);
  EXPECT_EQ(Writes(30), 1u);
  EXPECT_EQ(Writes(32), 0u);
}

TEST_F(GeneratorSettings, ArbitraryTypeReappliesEveryTimeOtherTypesOnce) {
  SwitchOn();
  instrument.FuncGenMemoryLength = 300;
  instrument.SetGenSignalType(gsArbitrary);
  instrument.SetGenSignalType(gsArbitrary);
  EXPECT_EQ(Writes(32), 600u);
  EXPECT_EQ(instrument.GenWaveLength, 300);
  bus.Recorder().Clear();
  instrument.SetGenSignalType(gsTriangle);
  instrument.SetGenSignalType(gsTriangle);
  EXPECT_EQ(Writes(32), 1024u);
  EXPECT_EQ(instrument.GenWaveLength, 1024);
}

TEST_F(GeneratorSettings, NotANumberChangesNothing) {
  SwitchOn();
  instrument.SetGenFrequency(kNaN);
  instrument.SetGenAmplitude(kNaN);
  instrument.SetGenDCOffset(kNaN);
  instrument.SetGenSymmetry(kNaN);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_EQ(instrument.GenFrequency, 0.0L);
  EXPECT_EQ(instrument.GenAmplitude, 0.0L);
  EXPECT_EQ(instrument.GenDCOffset, 0.0L);
  EXPECT_EQ(instrument.GenSymmetry, 0.0L);
}

TEST_F(GeneratorSettings, InfiniteFrequencyIsIgnored) {
  SwitchOn();
  instrument.SetGenFrequency(std::numeric_limits<Extended>::infinity());
  instrument.SetGenFrequency(-std::numeric_limits<Extended>::infinity());
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_EQ(instrument.GenFrequency, 0.0L);
}

TEST_F(GeneratorSettings, SettersFireNoSettingsNotification) {
  SwitchOn();
  instrument.SetGenFrequency(100.0L);
  instrument.SetGenAmplitude(1.0L);
  instrument.SetGenDCOffset(1.0L);
  instrument.SetGenSymmetry(0.2L);
  instrument.SetGenSignalType(gsSquare);
  instrument.SetGenOption(1);
  instrument.SetGenOutputOn(false);
  EXPECT_FALSE(instrument.SettingsDirty);
  EXPECT_EQ(instrument.nCalculations, 7);
}

TEST_F(GeneratorSettings, ParkingLeavesDcAtZeroVoltsAndPointTwoHertzWithTheOutputOff) {
  // The hardware initialisation's generator steps.
  instrument.SetGenOutputOn(true);
  instrument.GenSignalType = gsDC;
  instrument.GenFrequency = 0.2L;
  instrument.GenAmplitude = 0;
  instrument.GenDCOffset = 0;
  bus.Recorder().Clear();
  instrument.SetGenOutputOn(false);
  EXPECT_FALSE(instrument.GenOutputOn);
  EXPECT_EQ(bus.Recorder().RegisterWrites(37), std::vector<uint8_t>(6, 0));
  EXPECT_EQ(Writes(32), 0u);
  EXPECT_EQ(bus.Recorder().RegisterWrites(30), std::vector<uint8_t>{14});
  EXPECT_NEAR(bus.Card().Generator().Output().offsetVolts, 0.0, 0.001);
  EXPECT_NEAR(bus.Card().Generator().Output().amplitudeVolts, 0.0, 0.001);
}

TEST_F(GeneratorSettings, UserWaveformReachesTheCardOnlyAsArbitraryType) {
  SwitchOn();
  const uint16_t samples[] = {0, 65535, 0, 65535};
  instrument.FuncGenMemoryLength = 4;
  instrument.LoadGenUserWaveform(samples, 4);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  instrument.SetGenSignalType(gsArbitrary);
  EXPECT_EQ(Writes(32), 4u);
  bus.Recorder().Clear();
  instrument.LoadGenUserWaveform(samples, 4);  // now applied at once
  EXPECT_EQ(Writes(32), 4u);
  EXPECT_EQ(bus.Card().Generator().MemorySample(0), 16383);
  EXPECT_EQ(bus.Card().Generator().MemorySample(1), 0);
}

}  // namespace
}  // namespace rk350

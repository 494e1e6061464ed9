// Function generator and square wave exports: checks in their order, argument
// conversion, and what reaches the generator.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "library/library_state.h"
#include "support/generator_calibration.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;
using testing::ResetLibraryToLoaded;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class GeneratorExports : public ::testing::Test {
 protected:
  GeneratorExports() : instrument(testing::InstallPresentInstrument()) {}
  ~GeneratorExports() override { ResetLibraryToLoaded(); }
  RecordedBus bus;
  TRK350& instrument;
};

TEST(GeneratorExportsWithoutInstrument, AnswerNoInstrumentAndWriteOnlyTheDocumentedZeros) {
  ResetLibraryToLoaded();
  double d = 7;
  uint16_t w = 7;
  uint8_t b = 7;
  uint32_t hz = 1000;
  EXPECT_EQ(SetFuncGenSignalType(0), ResultNoInstrument);
  EXPECT_EQ(GetFuncGenSignalType(&w), ResultNoInstrument);
  EXPECT_EQ(w, 7);
  EXPECT_EQ(SetFuncGenAmplitude(1), ResultNoInstrument);
  EXPECT_EQ(GetFuncGenAmplitude(&d), ResultNoInstrument);
  EXPECT_EQ(SetFuncGenDCOffset(1), ResultNoInstrument);
  EXPECT_EQ(GetFuncGenDCOffset(&d), ResultNoInstrument);
  EXPECT_EQ(SetFuncGenSymmetry(50), ResultNoInstrument);
  EXPECT_EQ(GetFuncGenSymmetry(&d), ResultNoInstrument);
  EXPECT_EQ(SetFuncGenFrequency(&d), ResultNoInstrument);
  EXPECT_EQ(GetFuncGenFrequency(&d), ResultNoInstrument);
  EXPECT_EQ(d, 7);
  EXPECT_EQ(SetFuncGenTrigSource(4), ResultNoInstrument);
  EXPECT_EQ(GetFuncGenTrigSource(&b), ResultNoInstrument);
  EXPECT_EQ(FillFuncGenMemory(1, &w), ResultNoInstrument);
  EXPECT_EQ(SetFuncGenOutputOn(1), ResultNoInstrument);
  EXPECT_EQ(GetFuncGenOutputOn(&w), ResultNoInstrument);
  EXPECT_EQ(w, 0);  // written before any check
  w = 7;
  EXPECT_EQ(SetFuncGenEnable(1), ResultNoInstrument);
  EXPECT_EQ(GetFuncGenEnable(&w), ResultNoInstrument);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(FuncGenBurst(3), ResultNoInstrument);
  EXPECT_EQ(SetSquareWaveGenFrequency(&hz), ResultNoInstrument);
  EXPECT_EQ(hz, 1000u);
  EXPECT_EQ(GetSquareWaveGenFrequency(), 0u);
  // Fixed answers need no instrument.
  EXPECT_EQ(SetFuncGenAmplitudeRange(1), ResultNotAvailable);
  EXPECT_EQ(GetFuncGenAmplitudeRange(1), ResultNotAvailable);
  EXPECT_EQ(SetFuncGenMode(1), ResultNotAvailable);
  EXPECT_EQ(GetFuncGenMode(1), ResultNotAvailable);
}

TEST_F(GeneratorExports, WithoutAGeneratorTheGeneratorCheckAnswers) {
  instrument.FuncGenPresent = false;
  double d = 1;
  uint16_t w = 0;
  EXPECT_EQ(SetFuncGenSignalType(0), ResultNoGenerator);
  EXPECT_EQ(SetFuncGenAmplitude(1), ResultNoGenerator);
  EXPECT_EQ(SetFuncGenFrequency(&d), ResultNoGenerator);
  EXPECT_EQ(FillFuncGenMemory(1, &w), ResultNoGenerator);
  EXPECT_EQ(SetFuncGenOutputOn(1), ResultNoGenerator);
  EXPECT_EQ(GetFuncGenOutputOn(&w), ResultNoGenerator);
  // The enable's kind test comes before the generator check in the setter.
  EXPECT_EQ(SetFuncGenEnable(1), ResultNotAvailable);
  EXPECT_EQ(GetFuncGenEnable(&w), ResultNoGenerator);
  instrument.SquareWaveGenPresent = false;
  uint32_t hz = 5;
  EXPECT_EQ(SetSquareWaveGenFrequency(&hz), ResultNoGenerator);
  EXPECT_EQ(GetSquareWaveGenFrequency(), 0u);
}

TEST_F(GeneratorExports, SignalTypesMapToTheInternalCodes) {
  uint16_t type = 99;
  for (uint16_t exported = 0; exported <= 5; ++exported) {
    ASSERT_EQ(SetFuncGenSignalType(exported), ResultOk);
    EXPECT_EQ(instrument.GenSignalType, exported == 5 ? uint16_t{gsArbitrary} : exported);
    ASSERT_EQ(GetFuncGenSignalType(&type), ResultOk);
    EXPECT_EQ(type, exported);
  }
  EXPECT_EQ(SetFuncGenSignalType(6), ResultInvalidValue);
  EXPECT_EQ(instrument.GenSignalType, gsArbitrary);
  instrument.GenSignalType = 6;  // not a code the exports know
  type = 99;
  EXPECT_EQ(GetFuncGenSignalType(&type), ResultInvalidValue);
  EXPECT_EQ(type, 99);
}

TEST_F(GeneratorExports, AmplitudeAndOffsetAreCheckedAgainstTheLargestMagnitude) {
  double v = 0;
  EXPECT_EQ(SetFuncGenAmplitude(10.0), ResultOk);
  EXPECT_EQ(SetFuncGenAmplitude(10.000001), ResultInvalidValue);
  EXPECT_EQ(SetFuncGenAmplitude(kNaN), ResultInvalidValue);
  EXPECT_EQ(SetFuncGenAmplitude(-5.0), ResultOk);
  EXPECT_EQ(GetFuncGenAmplitude(&v), ResultOk);
  EXPECT_EQ(v, -5.0);
  EXPECT_EQ(SetFuncGenDCOffset(-10.0), ResultOk);
  EXPECT_EQ(SetFuncGenDCOffset(-10.5), ResultInvalidValue);
  EXPECT_EQ(SetFuncGenDCOffset(kInf), ResultInvalidValue);
  EXPECT_EQ(GetFuncGenDCOffset(&v), ResultOk);
  EXPECT_EQ(v, -10.0);
}

TEST_F(GeneratorExports, SymmetryTravelsAsPercent) {
  double v = 0;
  EXPECT_EQ(SetFuncGenSymmetry(100), ResultOk);
  EXPECT_EQ(instrument.GenSymmetry, 1.0L);
  EXPECT_EQ(GetFuncGenSymmetry(&v), ResultOk);
  EXPECT_EQ(v, 100.0);
  EXPECT_EQ(SetFuncGenSymmetry(100.5), ResultInvalidValue);
  EXPECT_EQ(SetFuncGenSymmetry(-0.1), ResultInvalidValue);
  EXPECT_EQ(SetFuncGenSymmetry(kNaN), ResultInvalidValue);
  EXPECT_EQ(SetFuncGenSymmetry(25), ResultOk);
  EXPECT_EQ(GetFuncGenSymmetry(&v), ResultOk);
  EXPECT_EQ(v, 25.0);
  instrument.GenSymmetry = 1.5L;  // only a direct call can store this
  v = 7;
  EXPECT_EQ(GetFuncGenSymmetry(&v), ResultInvalidValue);
  EXPECT_EQ(v, 7);
}

TEST_F(GeneratorExports, FrequencyComesBackWithThe5MHzLimitWhenTheClockIsProgrammed) {
  double f = 8000000;
  EXPECT_EQ(SetFuncGenFrequency(&f), ResultOk);
  EXPECT_EQ(f, 8000000);  // output off: stored as it is
  ASSERT_EQ(SetFuncGenOutputOn(1), ResultOk);
  EXPECT_EQ(instrument.GenFrequency, 5000000.0L);  // switching on programs the clock
  f = 7000000;
  EXPECT_EQ(SetFuncGenFrequency(&f), ResultOk);
  EXPECT_EQ(f, 5000000);
  double g = 0;
  EXPECT_EQ(GetFuncGenFrequency(&g), ResultOk);
  EXPECT_EQ(g, 5000000);
  for (double bad : {0.0, -1.0, kNaN, kInf}) {
    f = bad;
    EXPECT_EQ(SetFuncGenFrequency(&f), ResultInvalidValue);
    if (!std::isnan(bad)) {
      EXPECT_EQ(f, bad);  // left untouched
    }
  }
  EXPECT_EQ(SetFuncGenFrequency(nullptr), ResultInvalidValue);
  EXPECT_EQ(instrument.GenFrequency, 5000000.0L);
}

TEST_F(GeneratorExports, OutputOnAndOff) {
  uint16_t on = 9;
  EXPECT_EQ(SetFuncGenOutputOn(2), ResultInvalidValue);
  EXPECT_EQ(SetFuncGenOutputOn(1), ResultOk);
  EXPECT_EQ(GetFuncGenOutputOn(&on), ResultOk);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(SetFuncGenOutputOn(0), ResultOk);
  EXPECT_EQ(GetFuncGenOutputOn(&on), ResultOk);
  EXPECT_EQ(on, 0);
  instrument.InstrumentKind = 18;  // an instrument with a separate enable keeps its output on
  EXPECT_EQ(SetFuncGenOutputOn(0), ResultOk);
  EXPECT_TRUE(instrument.GenOutputOn);
}

TEST_F(GeneratorExports, EnableBurstAndTriggerSourceAreAbsentOnThisCard) {
  uint16_t w = 9;
  uint8_t b = 9;
  EXPECT_EQ(SetFuncGenEnable(1), ResultNotAvailable);
  EXPECT_EQ(GetFuncGenEnable(&w), ResultNotAvailable);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(FuncGenBurst(3), ResultNotAvailable);
  EXPECT_EQ(SetFuncGenTrigSource(4), ResultNotAvailable);
  EXPECT_EQ(GetFuncGenTrigSource(&b), ResultNotAvailable);
  EXPECT_EQ(b, 9);
  EXPECT_FALSE(instrument.GenOutputOn);
}

TEST_F(GeneratorExports, EnableBurstAndTriggerSourceOnAnInstrumentThatHasThem) {
  instrument.InstrumentKind = 18;
  instrument.HasGeneratorBurst = true;
  instrument.HasGeneratorTriggerSource = true;
  uint16_t w = 9;
  uint8_t b = 0;
  EXPECT_EQ(SetFuncGenEnable(2), ResultInvalidValue);
  EXPECT_EQ(SetFuncGenEnable(1), ResultOk);
  EXPECT_EQ(GetFuncGenEnable(&w), ResultOk);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(FuncGenBurst(12), ResultOk);
  EXPECT_EQ(instrument.GenBurstCount, 12);
  EXPECT_TRUE(instrument.GenOutputOn);
  EXPECT_EQ(SetFuncGenTrigSource(4), ResultOk);
  EXPECT_EQ(GetFuncGenTrigSource(&b), ResultOk);
  EXPECT_EQ(b, 4);
  EXPECT_EQ(SetFuncGenTrigSource(9), ResultOk);
  EXPECT_EQ(GetFuncGenTrigSource(&b), ResultOk);
  EXPECT_EQ(b, 9);
  EXPECT_EQ(SetFuncGenTrigSource(1), ResultInvalidValue);
}

TEST_F(GeneratorExports, FillFuncGenMemoryKeepsTheSamplesUntilTheArbitraryTypeLoadsThem) {
  const std::vector<uint16_t> samples = {0, 16384, 32768, 49152, 65535};
  SetFuncGenOutputOn(1);
  bus.Recorder().Clear();
  EXPECT_EQ(FillFuncGenMemory(5, samples.data()), ResultOk);
  EXPECT_EQ(bus.Recorder().RegisterWrites(32).size(), 0u);
  EXPECT_EQ(instrument.FuncGenMemoryLength, 5);
  EXPECT_EQ(SetFuncGenSignalType(5), ResultOk);
  EXPECT_EQ(bus.Recorder().RegisterWrites(32).size(), 5u);
  EXPECT_EQ(bus.Card().Generator().MemorySample(4), 0);
  EXPECT_EQ(bus.Card().Generator().MemorySample(0), 16383);
}

// Counts the load cannot take, and a missing sample block, are refused and
// change nothing; a block longer than the memory is cut to 65536 samples.
TEST_F(GeneratorExports, FillFuncGenMemoryRefusesCountsAndPointersTheLoadCannotTake) {
  const std::vector<uint16_t> samples(70000, 0);
  SetFuncGenOutputOn(1);
  SetFuncGenSignalType(5);
  ASSERT_EQ(FillFuncGenMemory(3, samples.data()), ResultOk);
  bus.Recorder().Clear();
  EXPECT_EQ(FillFuncGenMemory(0, samples.data()), ResultInvalidValue);
  EXPECT_EQ(FillFuncGenMemory(10, nullptr), ResultInvalidValue);
  EXPECT_EQ(instrument.FuncGenMemoryLength, 3);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_EQ(FillFuncGenMemory(70000, samples.data()), ResultOk);
  EXPECT_EQ(instrument.FuncGenMemoryLength, 65536);
  EXPECT_EQ(instrument.GenWaveLength, 65536);
  EXPECT_EQ(bus.Recorder().RegisterWrites(32).size(), 65536u);
}

TEST_F(GeneratorExports, SquareWaveSetsTheFunctionGeneratorToItsConfiguration) {
  uint32_t hz = 1000;
  EXPECT_EQ(SetSquareWaveGenFrequency(&hz), ResultOk);
  EXPECT_EQ(hz, 1000u);
  EXPECT_EQ(GetSquareWaveGenFrequency(), 1000u);
  uint16_t w = 0;
  double d = 0;
  GetFuncGenSignalType(&w);
  EXPECT_EQ(w, 2);
  GetFuncGenAmplitude(&d);
  EXPECT_EQ(d, 2.5);
  GetFuncGenDCOffset(&d);
  EXPECT_EQ(d, 0);
  GetFuncGenSymmetry(&d);
  EXPECT_EQ(d, 50);
  GetFuncGenOutputOn(&w);
  EXPECT_EQ(w, 1);
  // The card: samples 0..511 at 0, 512..1023 at 16383, high range.
  const auto& gen = bus.Card().Generator();
  EXPECT_EQ(gen.MemorySample(511), 0);
  EXPECT_EQ(gen.MemorySample(512), 16383);
  EXPECT_EQ(gen.Output().range, 5);
  EXPECT_NEAR(gen.Output().amplitudeVolts, 2.5, 0.0002);
  EXPECT_NEAR(gen.Output().frequencyHz, 1000, 1);
}

TEST_F(GeneratorExports, SquareWaveOfZeroHertzHasNoAmplitudeButIsOn) {
  uint32_t hz = 0;
  EXPECT_EQ(SetSquareWaveGenFrequency(&hz), ResultOk);
  EXPECT_EQ(instrument.GenAmplitude, 0.0L);
  EXPECT_TRUE(instrument.GenOutputOn);
  EXPECT_EQ(bus.Card().Generator().Output().increment, 0u);
}

TEST_F(GeneratorExports, SquareWaveAbove5MHzKeepsTheRequestedValue) {
  uint32_t hz = 10000000;
  EXPECT_EQ(SetSquareWaveGenFrequency(&hz), ResultOk);
  EXPECT_EQ(hz, 10000000u);
  EXPECT_EQ(GetSquareWaveGenFrequency(), 10000000u);
  double f = 0;
  GetFuncGenFrequency(&f);
  EXPECT_EQ(f, 5000000);
  // A failing call leaves the remembered value alone.
  EXPECT_EQ(SetSquareWaveGenFrequency(nullptr), ResultInvalidValue);
  instrument.SquareWaveGenPresent = false;
  hz = 3;
  EXPECT_EQ(SetSquareWaveGenFrequency(&hz), ResultNoGenerator);
  EXPECT_EQ(GetSquareWaveGenFrequency(), 10000000u);
}

TEST_F(GeneratorExports, SquareWaveWithTheOutputAlreadyOnTakesEffectStepByStep) {
  SetFuncGenOutputOn(1);
  uint32_t hz = 2000;
  SetSquareWaveGenFrequency(&hz);
  bus.Recorder().Clear();
  hz = 4000;
  EXPECT_EQ(SetSquareWaveGenFrequency(&hz), ResultOk);
  // Only the frequency changed: just the clock is written.
  for (const auto& [reg, value] : bus.Recorder().RegisterTrace()) EXPECT_TRUE(reg >= 30 && reg <= 36) << int(reg);
  EXPECT_NEAR(bus.Card().Generator().Output().frequencyHz, 4000, 1);
}

}  // namespace
}  // namespace rk350

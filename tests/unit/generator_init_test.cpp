// The generator as the library's initialisation leaves it, and its re-apply
// after a resolution change.
#include <gtest/gtest.h>

#include "library/library_state.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;
using testing::ResetLibraryToLoaded;

class GeneratorAfterInit : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLibraryToLoaded();
    ASSERT_EQ(InitInstrument(0x288), ResultOk);
  }
  void TearDown() override { ResetLibraryToLoaded(); }
  RecordedBus bus;
};

TEST_F(GeneratorAfterInit, InitialisationParksTheGeneratorAtZeroVolts) {
  const TRK350& in = *gInstrument;
  EXPECT_FALSE(in.GenOutputOn);
  EXPECT_EQ(in.GenSignalType, gsDC);
  EXPECT_EQ(in.GenFrequency, 0.2L);
  EXPECT_EQ(in.GenAmplitude, 0.0L);
  EXPECT_EQ(in.GenDCOffset, 0.0L);
  EXPECT_EQ(in.GenSymmetry, 0.0L);
  // Switched on once with the constructed state: a sine memory of symmetry
  // 0 (k = 1), levels 0 V, the clock at 0 Hz; then off with the presets: levels
  // 0 V in the low range and the clock at 0.2 Hz.
  const auto& rec = bus.Recorder();
  EXPECT_EQ(rec.RegisterWrites(32).size(), 1024u);
  EXPECT_EQ(rec.RegisterWrites(37), std::vector<uint8_t>(12, 0));
  EXPECT_EQ(rec.RegisterWrites(30), (std::vector<uint8_t>{15, 14, 14}));
  EXPECT_EQ(rec.RegisterWrites(34), (std::vector<uint8_t>{0x00, 0x00, 0xCC}));
  EXPECT_EQ(rec.RegisterWrites(35), (std::vector<uint8_t>{0x20, 0x00, 0xAB}));
  const auto& gen = bus.Card().Generator();
  EXPECT_EQ(gen.MemorySample(0), 16383);
  EXPECT_EQ(gen.MemorySample(1), 0);  // k = 1: the bottom at sample 1
  EXPECT_NEAR(gen.Output().amplitudeVolts, 0.0, 0.0001);
  EXPECT_NEAR(gen.Output().offsetVolts, 0.0, 0.0002);
  EXPECT_NEAR(gen.Output().frequencyHz, 0.2, 0.0001);
}

TEST_F(GeneratorAfterInit, ResolutionChangeReappliesAUserWaveform) {
  const uint16_t ramp[] = {0, 20000, 40000, 60000};
  ASSERT_EQ(FillFuncGenMemory(4, ramp), ResultOk);
  ASSERT_EQ(SetFuncGenSignalType(5), ResultOk);
  ASSERT_EQ(SetFuncGenOutputOn(1), ResultOk);
  bus.Recorder().Clear();
  EXPECT_EQ(SetResolution(8), ResultOk);
  EXPECT_EQ(bus.Recorder().RegisterWrites(32).size(), 4u);
  EXPECT_EQ(bus.Recorder().RegisterWrites(37).size(), 6u);
}

TEST_F(GeneratorAfterInit, ResolutionChangeLeavesAStandardWaveformAsItIs) {
  double f = 1000;
  ASSERT_EQ(SetFuncGenFrequency(&f), ResultOk);
  ASSERT_EQ(SetFuncGenSignalType(0), ResultOk);
  ASSERT_EQ(SetFuncGenAmplitude(1.5), ResultOk);
  ASSERT_EQ(SetFuncGenSymmetry(50), ResultOk);
  ASSERT_EQ(SetFuncGenOutputOn(1), ResultOk);
  bus.Recorder().Clear();
  EXPECT_EQ(SetResolution(8), ResultOk);
  EXPECT_EQ(bus.Recorder().Count(), 0u);  // every value comes back unchanged
  // A frequency that 64 bits cannot hold comes back rounded and is
  // programmed again.
  gInstrument->SetGenFrequency(1000.0L + 1e-14L);
  bus.Recorder().Clear();
  EXPECT_EQ(SetResolution(8), ResultOk);
  EXPECT_EQ(gInstrument->GenFrequency, 1000.0L);
  EXPECT_EQ(bus.Recorder().RegisterWrites(30), std::vector<uint8_t>{6});
  // So does a symmetry of 30 % (0.3 in 80 bits is not the double 0.3): the
  // whole generator is applied again.
  ASSERT_EQ(SetFuncGenSymmetry(30), ResultOk);
  bus.Recorder().Clear();
  EXPECT_EQ(SetResolution(8), ResultOk);
  EXPECT_EQ(gInstrument->GenSymmetry, static_cast<Extended>(0.3));
  EXPECT_EQ(bus.Recorder().RegisterWrites(32).size(), 1024u);
}

}  // namespace
}  // namespace rk350

// Standard waveforms, the user-waveform conversion and the memory load
// sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;

std::vector<uint16_t> Compute(uint8_t type, Extended symmetry) {
  std::vector<uint16_t> buffer(1024, 0xBEEF);
  TRK350::ComputeGenWaveform(buffer.data(), 1024, type, symmetry, 8191, 8192);
  return buffer;
}

// The first-part length k, seen as the first sample of the square's top.
int FirstPartOfSquare(Extended symmetry) {
  const auto w = Compute(gsSquare, symmetry);
  return static_cast<int>(std::find(w.begin(), w.end(), 16383) - w.begin());
}

TEST(GeneratorWaveform, SymmetrySetsTheFirstPartWithinOneAndNMinusOne) {
  EXPECT_EQ(FirstPartOfSquare(0.0L), 1);
  EXPECT_EQ(FirstPartOfSquare(1.0L), 1023);
  EXPECT_EQ(FirstPartOfSquare(0.5L), 512);
  EXPECT_EQ(FirstPartOfSquare(0.25L), 256);
  EXPECT_EQ(FirstPartOfSquare(0.0004L), 1);  // rnd(0.41) = 0 -> 1
  EXPECT_EQ(FirstPartOfSquare(0.9996L), 1023);
}

TEST(GeneratorWaveform, SquareIsLowThenHigh) {
  const auto w = Compute(gsSquare, 0.25L);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(w[i], i < 256 ? 0 : 16383) << i;
}

TEST(GeneratorWaveform, TriangleFallsThenRises) {
  const auto w = Compute(gsTriangle, 0.5L);
  EXPECT_EQ(w[0], 16383);
  EXPECT_EQ(w[256], 16383 - 256 * 32);
  EXPECT_EQ(w[511], 16383 - 511 * 32);
  EXPECT_EQ(w[512], 0);  // -1 limited
  EXPECT_EQ(w[1023], 16351);
  // Symmetry 0.25: slopes 64 and 64/3 per sample.
  const auto s = Compute(gsTriangle, 0.25L);
  EXPECT_EQ(s[255], 16383 - 255 * 64);
  EXPECT_EQ(s[256], 0);
  EXPECT_EQ(s[1023], 16362);  // -1 + rnd(767 * 16384 / 768) = -1 + rnd(16362.67)
}

TEST(GeneratorWaveform, SineStartsAtTheTopAndReachesTheOtherPeakAtK) {
  const auto w = Compute(gsSine, 0.5L);
  EXPECT_EQ(w[0], 16383);
  EXPECT_EQ(w[256], 8191);  // cos(pi/2) = 0
  EXPECT_EQ(w[512], 0);     // 8191 - 8192 limited
  EXPECT_EQ(w[768], 8191);
  EXPECT_EQ(w[1023], 16383);  // 8191 + rnd(8192 * cos(pi / 512)) = 8191 + rnd(8191.85)
  // Symmetry 0.25: the bottom moves to sample 256.
  const auto s = Compute(gsSine, 0.25L);
  EXPECT_EQ(s[256], 0);
  EXPECT_EQ(s[128], 8191);
}

TEST(GeneratorWaveform, DcIsTheTopEverywhereAndNoiseStaysInItsBand) {
  const auto dc = Compute(gsDC, 0.3L);
  EXPECT_TRUE(std::all_of(dc.begin(), dc.end(), [](uint16_t v) { return v == 16383; }));
  const auto noise = Compute(gsNoise, 0.0L);
  EXPECT_TRUE(std::all_of(noise.begin(), noise.end(), [](uint16_t v) { return v <= 16382; }));
  // Uniform over the band: both halves are well populated.
  const auto low = std::count_if(noise.begin(), noise.end(), [](uint16_t v) { return v < 8191; });
  EXPECT_GT(low, 400);
  EXPECT_LT(low, 624);
}

TEST(GeneratorWaveform, OtherCodesLeaveTheBufferAlone) {
  for (uint8_t type : {uint8_t{5}, uint8_t{6}, uint8_t{gsArbitrary}, uint8_t{200}}) {
    const auto w = Compute(type, 0.5L);
    EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](uint16_t v) { return v == 0xBEEF; }));
  }
}

class GeneratorMemory : public ::testing::Test {
 protected:
  RecordedBus bus;
  TRK350 instrument{nullptr};
};

TEST_F(GeneratorMemory, UserSamplesAreInvertedAndScaledTo14Bits) {
  const uint16_t samples[] = {0, 65535, 32768, 4, 3};
  instrument.LoadGenUserWaveform(samples, 5);
  EXPECT_EQ(instrument.GenUserBuffer[0], 16383);
  EXPECT_EQ(instrument.GenUserBuffer[1], 0);
  EXPECT_EQ(instrument.GenUserBuffer[2], 8191);
  EXPECT_EQ(instrument.GenUserBuffer[3], 16382);
  EXPECT_EQ(instrument.GenUserBuffer[4], 16383);
}

TEST_F(GeneratorMemory, UserSamplesWithAStandardTypeAreKeptWithoutTouchingTheCard) {
  const uint16_t samples[] = {1, 2, 3};
  bus.Recorder().Clear();
  instrument.LoadGenUserWaveform(samples, 3);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(GeneratorMemory, ShortMemoryLoadSequence) {
  instrument.GenWaveLength = 1024;
  const uint16_t samples[] = {0x3FFF, 0x0102};
  bus.Recorder().Clear();
  instrument.LoadGenMemory(samples, 2);
  EXPECT_EQ(bus.Recorder().Text(),
            "reg 34 = 0x00\nreg 35 = 0x20\nreg 36 = 0x00\n"  // one sample: 0x2000 phase units
            "reg 30 = 0x0F\n"                                // clock stopped
            "reg 31 = 0x31\nreg 31 = 0x71\n"
            "reg 32 = 0xFF\nreg 33 = 0x3F\n"
            "reg 31 = 0x70\nreg 31 = 0x71\nreg 31 = 0x51\nreg 31 = 0x71\n"
            "reg 32 = 0x02\nreg 33 = 0x01\n"
            "reg 31 = 0x70\nreg 31 = 0x71\nreg 31 = 0x51\nreg 31 = 0x71\n"
            "reg 31 = 0x75\n");
}

TEST_F(GeneratorMemory, LongMemoryLoadSetsTheModeBitAndTheOneSampleIncrement) {
  instrument.GenWaveLength = 3;
  const uint16_t samples[] = {1, 2, 3};
  bus.Recorder().Clear();
  instrument.LoadGenMemory(samples, 3);
  const auto trace = bus.Recorder().RegisterTrace();
  ASSERT_GE(trace.size(), 4u);
  EXPECT_EQ(trace[0], std::make_pair(uint8_t{34}, uint8_t{0x80}));
  EXPECT_EQ(trace[1], std::make_pair(uint8_t{35}, uint8_t{0x00}));
  const auto control = bus.Recorder().RegisterWrites(31);
  const std::vector<uint8_t> expected = {0x39, 0x79, 0x78, 0x79, 0x59, 0x79, 0x78, 0x79,
                                         0x59, 0x79, 0x78, 0x79, 0x59, 0x79, 0x7D};
  EXPECT_EQ(control, expected);
}

TEST_F(GeneratorMemory, FullLoadsWriteSixRegistersPerSample) {
  instrument.GenWaveLength = 65536;
  bus.Recorder().Clear();
  instrument.LoadGenMemory(instrument.GenUserBuffer.get(), 65536);
  EXPECT_EQ(bus.Recorder().RegisterTrace().size(), 7u + 6u * 65536u);
  // A count beyond the memory never reads past the instrument's buffers.
  bus.Recorder().Clear();
  instrument.LoadGenMemory(instrument.GenUserBuffer.get(), 70000);
  EXPECT_EQ(bus.Recorder().RegisterTrace().size(), 7u + 6u * 65536u);
}

}  // namespace
}  // namespace rk350

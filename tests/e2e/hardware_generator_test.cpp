// The generator exports of the hardware flavour, with a virtual card behind
// the host's port functions: what the card's generator makes of them.
#include <gtest/gtest.h>

#include <vector>

#include "card/virtual_card.h"
#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"

namespace {

using rk350::card::VirtualCard;

class HardwareGenerator : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RK350_SetPortFunctions(&card, &In, &Out), RK350_RESULT_OK);
    ASSERT_EQ(InitInstrument(VirtualCard::kDefaultBase), RK350_RESULT_OK);
  }
  void TearDown() override {
    ExitInstrument();
    RK350_SetPortFunctions(nullptr, nullptr, nullptr);
  }
  static int RK350_CALL In(void* context, uint16_t port) { return static_cast<VirtualCard*>(context)->In(port); }
  static int RK350_CALL Out(void* context, uint16_t port, uint8_t value) {
    static_cast<VirtualCard*>(context)->Out(port, value);
    return 0;
  }
  VirtualCard card;
};

TEST_F(HardwareGenerator, InitialisationLeavesTheOutputAtZeroVolts) {
  const auto out = card.Generator().Output();
  EXPECT_TRUE(out.levelsLoaded);
  EXPECT_EQ(out.range, 0);
  EXPECT_NEAR(out.amplitudeVolts, 0.0, 0.0001);
  EXPECT_NEAR(out.offsetVolts, 0.0, 0.0002);
  EXPECT_NEAR(out.frequencyHz, 0.2, 0.0001);
}

TEST_F(HardwareGenerator, SquareWaveExportRunsTheCardsGeneratorAt1kHz2point5Volts) {
  uint32_t hz = 1000;
  ASSERT_EQ(SetSquareWaveGenFrequency(&hz), RK350_RESULT_OK);
  EXPECT_EQ(GetSquareWaveGenFrequency(), 1000u);
  const auto out = card.Generator().Output();
  EXPECT_EQ(out.range, 5);
  EXPECT_NEAR(out.amplitudeVolts, 2.5, 0.0002);
  EXPECT_NEAR(out.offsetVolts, 0.0, 0.0002);
  EXPECT_NEAR(out.frequencyHz, 1000.0, 1.0);
  EXPECT_EQ(card.Generator().MemorySample(0), 0);
  EXPECT_EQ(card.Generator().MemorySample(1023), 16383);
}

TEST_F(HardwareGenerator, UserWaveformOfAFewHundredSamplesRunsInLongMemory) {
  std::vector<uint16_t> samples(300);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 200);
  ASSERT_EQ(FillFuncGenMemory(300, samples.data()), RK350_RESULT_OK);
  double hz = 78125;
  ASSERT_EQ(SetFuncGenFrequency(&hz), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenSignalType(RK350_GEN_ARBITRARY), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenAmplitude(1.0), RK350_RESULT_OK);
  ASSERT_EQ(SetFuncGenOutputOn(1), RK350_RESULT_OK);
  const auto out = card.Generator().Output();
  EXPECT_TRUE(out.longMemory);
  EXPECT_EQ(out.sweepSamples, 300u);
  EXPECT_DOUBLE_EQ(out.sampleClockHz, 78125.0);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(card.Generator().MemorySample(i), (65535 - i * 200) >> 2);
}

}  // namespace

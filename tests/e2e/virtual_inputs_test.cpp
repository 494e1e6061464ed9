// Input, timebase and trigger settings through the exports of the
// virtual-card library, checked against what the card shows. Each test case
// runs in a freshly loaded library.
#include <gtest/gtest.h>

#include <cmath>

#include "rk350/rk350.h"
#include "rk350/rk350_sim.h"

namespace {

class VirtualInputs : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK); }
  void TearDown() override { ExitInstrument(); }
};

TEST_F(VirtualInputs, SampleFrequencyReachesTheCardAtOnce) {
  uint32_t hz = 3000000;
  ASSERT_EQ(SetSampleFrequency(&hz), RK350_RESULT_OK);
  EXPECT_EQ(hz, 2500000u);
  // Prescaler code 1 (divide by 5), divider 2: reload 0xFFFF.
  EXPECT_EQ(RK350Sim_GetRegister(5), 0x21);
  EXPECT_EQ(RK350Sim_GetRegister(6), 0xFF);
  EXPECT_EQ(RK350Sim_GetRegister(7), 0xFF);
  EXPECT_EQ(RK350Sim_GetRegister(8), 0x06);
  EXPECT_EQ(RK350Sim_GetConverterClock(), 2.5e6);

  double f = 100.0;
  ASSERT_EQ(SetSampleFrequencyF(&f), RK350_RESULT_OK);
  EXPECT_EQ(f, 100.0);
  EXPECT_EQ(RK350Sim_GetRegister(5), 0x33);
  EXPECT_EQ(RK350Sim_GetRegister(6), 0x2D);
  EXPECT_EQ(RK350Sim_GetRegister(7), 0xCF);
  EXPECT_EQ(RK350Sim_GetRegister(8), 0x14);
  EXPECT_DOUBLE_EQ(RK350Sim_GetConverterClock(), 100.0);
}

TEST_F(VirtualInputs, AboveFiftyMegahertzTheCardInterleavesChannelOne) {
  ASSERT_EQ(SetMeasureMode(1), RK350_RESULT_OK);
  double f = 60e6;
  ASSERT_EQ(SetSampleFrequencyF(&f), RK350_RESULT_OK);
  EXPECT_EQ(f, 100e6);
  EXPECT_EQ(GetSampleFrequency(), 100000000u);
}

TEST_F(VirtualInputs, UnprogrammableFrequenciesAreRefused) {
  const double before = GetSampleFrequencyF();
  const uint8_t select = RK350Sim_GetRegister(5);
  for (double bad : {-1.0, -25e6, 1e-7, std::nan("")}) {
    double f = bad;
    EXPECT_EQ(SetSampleFrequencyF(&f), RK350_RESULT_INVALID_VALUE) << bad;
  }
  EXPECT_EQ(GetSampleFrequencyF(), before);
  EXPECT_EQ(RK350Sim_GetRegister(5), select);
  EXPECT_EQ(RK350Sim_GetConverterClock(), before);
}

TEST_F(VirtualInputs, RangeDcLevelAndTriggerLevelLimitsAt80Bits) {
  double fs = 0.8;
  ASSERT_EQ(SetSensitivity(1, &fs), RK350_RESULT_OK);
  EXPECT_EQ(SetDcLevel(1, 1.6), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(SetDcLevel(1, 1.5), RK350_RESULT_OK);
  EXPECT_EQ(SetTriggerLevel(1, 0.8), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(SetTriggerLevel(1, 0.4), RK350_RESULT_OK);
  double level = 0;
  ASSERT_EQ(GetTriggerLevel(1, &level), RK350_RESULT_OK);
  EXPECT_EQ(level, 0.4);

  fs = 3.0;
  ASSERT_EQ(SetSensitivity(1, &fs), RK350_RESULT_OK);
  EXPECT_EQ(fs, 2.0);
  fs = 0.4;  // a smaller range pulls the DC level in
  ASSERT_EQ(SetSensitivity(1, &fs), RK350_RESULT_OK);
  double dc = 0;
  ASSERT_EQ(GetDcLevel(1, &dc), RK350_RESULT_OK);
  EXPECT_EQ(dc, 0.8);
}

TEST_F(VirtualInputs, TriggerChoicesOfThisCard) {
  EXPECT_EQ(SetTriggerSource(RK350_TS_AND), RK350_RESULT_OK);
  EXPECT_EQ(SetTriggerSource(RK350_TS_XOR), RK350_RESULT_NOT_AVAILABLE);
  EXPECT_EQ(SetTriggerSource(15), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(SetTriggerModeCh(0, 1), RK350_RESULT_OK);
  EXPECT_EQ(SetTriggerModeCh(1, 7), RK350_RESULT_NOT_AVAILABLE);
  EXPECT_EQ(SetTriggerTimeOut(0xFFFFFFFFu), RK350_RESULT_OK);
  EXPECT_EQ(GetTriggerTimeOut(), -1);
}

TEST_F(VirtualInputs, FrontEndSettingsReachTheCardWhenAMeasurementIsArmed) {
  double fs = 4.0;
  ASSERT_EQ(SetSensitivity(1, &fs), RK350_RESULT_OK);
  ASSERT_EQ(SetCoupling(1, 1), RK350_RESULT_OK);
  ASSERT_EQ(SetDcLevel(1, -2.5), RK350_RESULT_OK);
  fs = 0.2;
  ASSERT_EQ(SetSensitivity(2, &fs), RK350_RESULT_OK);
  ASSERT_EQ(SetDcLevel(2, 0.3), RK350_RESULT_OK);
  // The measurement engine programs the front end before it arms.
  ASSERT_EQ(ADC_Start(), RK350_RESULT_OK);

  double full = 0, offset = 0;
  uint8_t ac = 9, input = 0;
  ASSERT_EQ(RK350Sim_GetInputPath(1, &full, &ac, &input, &offset), RK350_RESULT_OK);
  EXPECT_EQ(full, 4.0);
  EXPECT_EQ(ac, 1);
  EXPECT_EQ(input, 1);
  EXPECT_NEAR(offset, -2.5, 4.0 * 1.25e-4);  // one fine-DAC step
  ASSERT_EQ(RK350Sim_GetInputPath(2, &full, &ac, &input, &offset), RK350_RESULT_OK);
  EXPECT_EQ(full, 0.2);
  EXPECT_EQ(ac, 0);
  EXPECT_EQ(input, 2);
  EXPECT_NEAR(offset, 0.3, 0.2 * 1.25e-4);
  EXPECT_EQ(RK350Sim_GetInputPath(3, &full, &ac, &input, &offset), RK350_RESULT_INVALID_CHANNEL);
}

TEST_F(VirtualInputs, InterleavedChannelOneFeedsBothConverters) {
  double fs = 2.0;
  ASSERT_EQ(SetSensitivity(1, &fs), RK350_RESULT_OK);
  ASSERT_EQ(SetDcLevel(1, 1.0), RK350_RESULT_OK);
  ASSERT_EQ(SetMeasureMode(1), RK350_RESULT_OK);  // channel 1 only
  double f = 100e6;
  ASSERT_EQ(SetSampleFrequencyF(&f), RK350_RESULT_OK);
  ASSERT_EQ(f, 100e6);
  ASSERT_EQ(ADC_Start(), RK350_RESULT_OK);
  for (uint8_t path = 1; path <= 2; ++path) {
    double full = 0, offset = 0;
    uint8_t ac = 9, input = 0;
    ASSERT_EQ(RK350Sim_GetInputPath(path, &full, &ac, &input, &offset), RK350_RESULT_OK);
    SCOPED_TRACE(path);
    EXPECT_EQ(input, 1);
    EXPECT_EQ(full, 2.0);
    EXPECT_NEAR(offset, 1.0, 2.0 * 1.25e-4);
  }
  EXPECT_EQ(RK350Sim_GetConverterClock(), 50e6);
}

}  // namespace

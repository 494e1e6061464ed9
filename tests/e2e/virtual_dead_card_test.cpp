// A card that stops answering does not pass for data: with its status stuck
// at 0xFF or the whole card silent, the data exports keep their result codes,
// but the record holds no sample (the valid range is empty, every position
// reads 0x8000), and a record after the fault clears holds samples again.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"
#include "rk350/rk350_sim.h"

namespace {

struct Held {
  int32_t first = -1, count = -1;
};

Held HeldBy(uint16_t channel) {
  Held h;
  EXPECT_EQ(RK350_GetValidRange(channel, &h.first, &h.count), RK350_RESULT_OK);
  return h;
}

// One block record on both channels, forced; the data as the exports give them.
void BlockRecord(std::vector<uint16_t>& ch1, std::vector<uint16_t>& ch2) {
  ASSERT_EQ(ADC_Start(), RK350_RESULT_OK);
  ASSERT_EQ(ADC_ForceTrig(), RK350_RESULT_OK);
  for (int i = 0; i < 1000 && ADC_Ready() == 0; ++i) RK350Sim_AdvanceTime(1e-3);
  ch1.assign(static_cast<size_t>(GetRecordLength()), 0);
  ch2.assign(ch1.size(), 0);
  ASSERT_EQ(ADC_GetData(ch1.data(), ch2.data()), RK350_RESULT_OK);
}

TEST(DeadCard, StuckOrSilentCardRecordsHoldNoSample) {
  RK350Sim_SetManualTime(1.0);
  RK350Sim_SetAutoTimeStep(1e-6);
  ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
  ASSERT_EQ(SetRecordLength(1000), RK350_RESULT_OK);
  ASSERT_EQ(SetPostSamples(500), RK350_RESULT_OK);
  std::vector<uint16_t> ch1, ch2;
  for (const int32_t fault : {RK350SIM_FAULT_STATUS_STUCK, RK350SIM_FAULT_SILENT}) {
    SCOPED_TRACE(fault);
    ASSERT_EQ(RK350Sim_SetFault(fault), RK350_RESULT_OK);
    BlockRecord(ch1, ch2);
    for (uint16_t channel : {1, 2}) {
      EXPECT_EQ(HeldBy(channel).count, 0);
      const auto& data = channel == 1 ? ch1 : ch2;
      for (uint16_t v : data) ASSERT_EQ(v, 0x8000);
    }
    // The synchronous measurement gives the card up; what it leaves holds
    // nothing either.
    ASSERT_EQ(SetTriggerTimeOut(0), RK350_RESULT_OK);
    EXPECT_EQ(StartMeasurement(), RK350_RESULT_NO_INSTRUMENT);
    EXPECT_EQ(HeldBy(1).count, 0);

    ASSERT_EQ(RK350Sim_SetFault(RK350SIM_FAULT_NONE), RK350_RESULT_OK);
    BlockRecord(ch1, ch2);
    EXPECT_GT(HeldBy(1).count, 0);
  }
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
}

}  // namespace

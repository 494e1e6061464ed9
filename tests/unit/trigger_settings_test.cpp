// Trigger settings of the instrument: the setter rule, dip time, ClampInt.
#include <gtest/gtest.h>

#include "input_test_support.h"

namespace rk350 {
namespace {

using testing::CalibratedInstrument;

TEST_F(CalibratedInstrument, TriggerSettersFollowTheSetterRuleAndStayOffTheCard) {
  In().nCalculations = 9;
  In().SettsTriggerSource(tsCh1);
  In().SetChTriggerMode(1, 0);
  In().SetChTriggerLevel(1, 127);
  In().SetChTriggerHys(1, 10);
  In().SetrTrigTimeOut(1.0L);
  EXPECT_EQ(In().nCalculations, 9);

  const struct {
    void (*change)(TRK350&);
  } changes[] = {
      {[](TRK350& in) { in.SettsTriggerSource(tsAnd); }}, {[](TRK350& in) { in.SetChTriggerMode(0, 1); }},
      {[](TRK350& in) { in.SetChTriggerLevel(2, 200); }}, {[](TRK350& in) { in.SetChTriggerHys(2, 3); }},
      {[](TRK350& in) { in.SetrTrigTimeOut(-1.0L); }},    {[](TRK350& in) { in.SetrTrigDipTime(0.5L); }},
  };
  for (const auto& c : changes) {
    In().nCalculations = 9;
    In().SettingsDirty = false;
    c.change(In());
    EXPECT_EQ(In().nCalculations, 1);
    EXPECT_TRUE(In().SettingsDirty);
    EXPECT_EQ(In().AppliedTriggerSource, In().tsTriggerSource);
  }
  EXPECT_EQ(In().GetChTriggerMode(0), 1);
  EXPECT_EQ(In().GetChTriggerLevel(2), 200);
  EXPECT_EQ(In().GetChTriggerHys(2), 3);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(CalibratedInstrument, DipTimeIsHeldInWholeMilliseconds) {
  In().SetrTrigDipTime(0.0123L);
  EXPECT_EQ(In().TrigDipTimeMs, 12);
  EXPECT_EQ(In().GetrTrigDipTime(), 0.012L);
  In().SetrTrigDipTime(0.0125L);  // 12.5 ms: half to even
  EXPECT_EQ(In().TrigDipTimeMs, 12);
  In().SetrTrigDipTime(1e12L);  // limited, not wrapped
  EXPECT_EQ(In().TrigDipTimeMs, INT32_MAX);
}

TEST(ClampInt, LimitsToTheRange) {
  EXPECT_EQ(TRK350::ClampInt(-3, 0, 255), 0);
  EXPECT_EQ(TRK350::ClampInt(300, 0, 255), 255);
  EXPECT_EQ(TRK350::ClampInt(17, 0, 255), 17);
}

}  // namespace
}  // namespace rk350

// Channel settings of the instrument: range choice, DC level limits,
// coupling and auto ranging, and when they notify.
#include <gtest/gtest.h>

#include <limits>

#include "input_test_support.h"

namespace rk350 {
namespace {

using testing::CalibratedInstrument;

struct RangeCase {
  long double request;
  int range;
};

class RangeSelection : public CalibratedInstrument, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeSelection, PicksTheNearestOfferedRangeLowerOnTies) {
  In().SetChSensitivity(1, GetParam().request);
  EXPECT_EQ(In().RangeIndex[1], GetParam().range);
  EXPECT_EQ(In().DcLevelLimit[1], In().DcLevelLimits[GetParam().range]);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RangeSelection,
    // Exact ties (3, 6, 30, 60 lie exactly between two full scales): the
    // lower range wins.
    ::testing::Values(RangeCase{3.0L, 7}, RangeCase{6.0L, 8}, RangeCase{30.0L, 10}, RangeCase{60.0L, 11},
                      RangeCase{0.14L, 3}, RangeCase{0.16L, 4}, RangeCase{0.59L, 5}, RangeCase{0.61L, 6},
                      RangeCase{1.4L, 6}, RangeCase{1.41L, 7}, RangeCase{14.0L, 9}, RangeCase{14.1L, 10},
                      RangeCase{60.1L, 12}, RangeCase{0.1L, 3}, RangeCase{0.02L, 3},  // range 1 is never chosen
                      RangeCase{0.0L, 3}, RangeCase{-5.0L, 3}, RangeCase{80.0L, 12}, RangeCase{1e6L, 12},
                      RangeCase{std::numeric_limits<long double>::infinity(), 12},
                      RangeCase{-std::numeric_limits<long double>::infinity(), 3}));

TEST_F(CalibratedInstrument, SameFullScaleDoesNothing) {
  In().nCalculations = 7;
  In().SettingsDirty = false;
  In().SetChSensitivity(1, 0.8L);
  EXPECT_EQ(In().nCalculations, 7);
  EXPECT_FALSE(In().SettingsDirty);
}

TEST_F(CalibratedInstrument, NaNFullScaleChangesNothing) {
  In().SetChSensitivity(1, 4.0L);
  In().nCalculations = 7;
  In().SetChSensitivity(1, std::numeric_limits<long double>::quiet_NaN());
  EXPECT_EQ(In().RangeIndex[1], 8);
  EXPECT_EQ(In().nCalculations, 7);
}

TEST_F(CalibratedInstrument, AnotherRequestForTheSameRangeStillNotifies) {
  In().nCalculations = 7;
  In().SettingsDirty = false;
  In().SetChSensitivity(1, 0.81L);
  EXPECT_EQ(In().RangeIndex[1], 6);
  EXPECT_EQ(In().nCalculations, 1);
  EXPECT_TRUE(In().SettingsDirty);
}

// Counts NotifySettingsChanged through the settings event (its gate opened).
struct NotifyCounter {
  int count = 0;
  static void Handler(void* self, TRK350*) { ++static_cast<NotifyCounter*>(self)->count; }
};

TEST_F(CalibratedInstrument, SmallerRangeLowersTheDcLevelAndNotifiesForBoth) {
  In().SetChDcLevel(1, 1.5L);
  ASSERT_EQ(In().DcLevel[1], 1.5L);
  NotifyCounter counter;
  In().OnSettingsChanged = {&NotifyCounter::Handler, &counter};
  In().SettingsEventEnabled = true;
  In().SetChSensitivity(1, 0.4L);
  EXPECT_EQ(In().DcLevel[1], 0.8L);
  EXPECT_EQ(counter.count, 2);  // the DC level, then the range
}

TEST_F(CalibratedInstrument, DcLevelIsLimitedByTheRangeFromConstruction) {
  // The limit follows the default range before any range change.
  EXPECT_EQ(In().DcLevelLimit[1], 1.6L);
  In().SetChDcLevel(1, 1.0L);
  EXPECT_EQ(In().DcLevel[1], 1.0L);
  In().SetChDcLevel(2, -7.0L);
  EXPECT_EQ(In().DcLevel[2], -1.6L);
  In().SetChDcLevel(1, 1.6L);
  EXPECT_EQ(In().DcLevel[1], 1.6L);  // exactly at the limit stays
}

TEST_F(CalibratedInstrument, ClampActsOnChannelsOneAndTwoOnly) {
  In().SetChDcLevel(3, 100.0L);
  EXPECT_EQ(In().DcLevel[3], 100.0L);
}

TEST_F(CalibratedInstrument, CouplingFollowsTheSetterRule) {
  In().nCalculations = 5;
  In().SetChCoupling(2, 0);
  EXPECT_EQ(In().nCalculations, 5);
  In().SetChCoupling(2, 1);
  EXPECT_EQ(In().GetChCoupling(2), 1);
  EXPECT_EQ(In().nCalculations, 1);
}

TEST_F(CalibratedInstrument, AutoRangingIsStoredWithoutNotification) {
  In().nCalculations = 5;
  In().SettingsDirty = false;
  In().SetChAutoRanging(1, false);
  EXPECT_FALSE(In().GetChAutoRanging(1));
  EXPECT_EQ(In().nCalculations, 5);
  EXPECT_FALSE(In().SettingsDirty);
}

TEST_F(CalibratedInstrument, OfferedSensitivitiesAndResolutions) {
  EXPECT_EQ(In().GetAvailableSensitivity(1), 0.1L);
  EXPECT_EQ(In().GetAvailableSensitivity(10), 80.0L);
  EXPECT_EQ(In().GetAvailableSensitivity(0), 0.0L);
  EXPECT_EQ(In().GetAvailableSensitivity(11), 0.0L);
  EXPECT_EQ(In().GetAvailableResolution(0), 8);
  EXPECT_EQ(In().GetAvailableResolution(1), 0);
  EXPECT_EQ(In().GetAvailableResolution(-1), 0);
  In().Resolution = 12;
  In().SetResolutionBits(16);
  EXPECT_EQ(In().Resolution, 8);
}

TEST_F(CalibratedInstrument, SettersDoNotTouchTheCard) {
  In().SetChSensitivity(1, 4.0L);
  In().SetChDcLevel(1, 2.0L);
  In().SetChCoupling(1, 1);
  In().SetChAutoRanging(1, false);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

}  // namespace
}  // namespace rk350

// The bench dialect's screen against the card's settings: scales and the
// position round-trip through rate, length and pre-trigger share; ranges
// and autoscale's decisions from probing records; numbered setups on disk.
#include "scpi/bench_scales.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "scpi/settings_slots.h"

namespace rk350::scpi {
namespace {

const std::vector<double> kRanges = {0.2, 0.4, 0.8, 2, 4, 8, 20, 40, 80};

TEST(BenchScales, TimebaseScaleAndRateAreInverse) {
  struct Case {
    double scale;
    std::uint32_t samples;
    double rate;
  };
  // 10 divisions: 5000 samples over 10 ms is 500 kHz; 1 µs/div over 1000 samples is 100 MHz.
  for (const Case& c : {Case{1e-3, 5000, 5e5}, Case{1e-6, 1000, 1e8}, Case{2.0, 65520, 3276}}) {
    EXPECT_DOUBLE_EQ(RateForTimebaseScale(c.scale, c.samples), c.rate) << c.scale;
    EXPECT_DOUBLE_EQ(TimebaseScaleOf(c.rate, c.samples), c.scale) << c.scale;
  }
}

TEST(BenchScales, PositionIsTheScreenCentreRelativeToTheTrigger) {
  // 5000 samples at 1 MHz span 5 ms: the trigger at 25 % puts the centre 1.25 ms after it.
  EXPECT_DOUBLE_EQ(TimebasePositionOf(1e6, 5000, 1250), 1.25e-3);
  EXPECT_DOUBLE_EQ(TimebasePositionOf(1e6, 5000, 2500), 0.0);
  EXPECT_DOUBLE_EQ(TimebasePositionOf(1e6, 5000, 5000), -2.5e-3);
  EXPECT_DOUBLE_EQ(PreTriggerPercentFor(1.25e-3, 5e-3), 25.0);
  EXPECT_DOUBLE_EQ(PreTriggerPercentFor(0.0, 5e-3), 50.0);
  EXPECT_DOUBLE_EQ(PreTriggerPercentFor(-2.5e-3, 5e-3), 100.0);
  // Beyond half the record either side the share leaves 0 .. 100 (the row's limits refuse it).
  EXPECT_LT(PreTriggerPercentFor(3e-3, 5e-3), 0.0);
  EXPECT_GT(PreTriggerPercentFor(-3e-3, 5e-3), 100.0);
}

TEST(BenchScales, ChannelScaleSpansEightDivisionsOfTheRange) {
  // ±2 V spans 4 V over 8 divisions.
  EXPECT_DOUBLE_EQ(ChannelScaleOf(2.0), 0.5);
  EXPECT_DOUBLE_EQ(RangeForChannelScale(0.5), 2.0);
  EXPECT_DOUBLE_EQ(RangeHolding(kRanges, 0.3), 0.4);
  EXPECT_DOUBLE_EQ(RangeHolding(kRanges, 0.4), 0.4);
  EXPECT_DOUBLE_EQ(RangeHolding(kRanges, 0.0), 0.2);
  EXPECT_DOUBLE_EQ(RangeHolding(kRanges, 500.0), 80.0);
}

ProbedChannel Probe(double range, double minimum, double maximum, std::optional<double> frequency = {},
                    bool overrange = false) {
  return {.measured = true,
          .range = range,
          .minimum = minimum,
          .maximum = maximum,
          .overrange = overrange,
          .frequency = frequency};
}

TEST(Autoscale, NarrowsEachChannelToItsPeakWithHeadroom) {
  // At ±80 V a step is 0.625 V: 0.25 V is seen again at ±2 V before it is given ±0.4 V.
  const std::array<ProbedChannel, 2> wide{Probe(80, -1.0, 1.0, 1000.0), Probe(80, -0.1, 0.25)};
  const auto next = NextProbeRanges(wide, kRanges);
  EXPECT_EQ(next[0], 2.0);  // (1 + 0.625) × 1.2 V needs ±2 V
  EXPECT_EQ(next[1], 2.0);
  const std::array<ProbedChannel, 2> closer{Probe(2, -1.0, 1.0, 1000.0), Probe(2, -0.1, 0.25)};
  const auto settled = NextProbeRanges(closer, kRanges);
  EXPECT_EQ(settled[0], 2.0);  // 1.2 V with headroom still needs ±2 V
  EXPECT_EQ(settled[1], 0.4);  // 0.3 V needs ±0.4 V
  // A quiet input at the widest range is looked at again where a step of it shows.
  const std::array<ProbedChannel, 2> quiet{Probe(80, 0, 0), ProbedChannel{}};
  EXPECT_EQ(NextProbeRanges(quiet, kRanges)[0], 0.8);
  // Over range the peak is unknown: never narrower than the probe's range.
  const std::array<ProbedChannel, 2> clipped{Probe(8, -8, 8, {}, true), ProbedChannel{}};
  const auto wider = NextProbeRanges(clipped, kRanges);
  EXPECT_EQ(wider[0], 20.0);
  EXPECT_FALSE(wider[1]);  // not measured: left alone
}

TEST(Autoscale, PlansTriggerLevelRangeAndScreenTimeFromTheSignal) {
  const std::array<ProbedChannel, 2> probed{Probe(2, -0.5, 1.5, 1000.0), Probe(2, 0.0, 0.0)};
  const auto plan = PlanAutoscale(probed, kRanges, 1);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->ranges[0], 2.0);
  EXPECT_FALSE(plan->ranges[1]);  // no signal on CH2: its range is kept
  EXPECT_EQ(plan->triggerChannel, 1);
  EXPECT_DOUBLE_EQ(plan->triggerLevel, 0.5);
  ASSERT_TRUE(plan->screenTime);
  EXPECT_DOUBLE_EQ(*plan->screenTime, kPeriodsOnScreen / 1000.0);
}

TEST(Autoscale, TriggersOnAChannelWithAPeriod) {
  struct Case {
    std::array<ProbedChannel, 2> probed;
    int preferred;
    int trigger;
    bool screenTime;
  };
  const Case cases[] = {
      // The trigger's channel keeps it when it has a period.
      {{Probe(2, -1, 1, 1000.0), Probe(2, -1, 1, 50.0)}, 2, 2, true},
      // A DC channel gives the trigger to one with a period.
      {{Probe(2, 0.5, 1.5), Probe(2, -1, 1, 50.0)}, 1, 2, true},
      // No period anywhere: the trigger stays, the timebase is kept.
      {{Probe(2, 0.5, 1.5), Probe(2, -0.5, 1.5)}, 2, 2, false},
      // The external trigger (no channel) goes to the first channel with a signal.
      {{Probe(2, 0, 0), Probe(2, -1, 1, 1e4)}, 0, 2, true},
  };
  for (const auto& c : cases) {
    const auto plan = PlanAutoscale(c.probed, kRanges, c.preferred);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->triggerChannel, c.trigger) << "preferred " << c.preferred;
    EXPECT_EQ(plan->screenTime.has_value(), c.screenTime) << "preferred " << c.preferred;
  }
}

TEST(Autoscale, GivesUpWithoutASignal) {
  // Quantisation noise of a step or two is no signal; an unmeasured channel neither.
  const double step = 2.0 * 0.2 / 256;
  const std::array<ProbedChannel, 2> quiet{Probe(0.2, -step, step), ProbedChannel{}};
  EXPECT_FALSE(PlanAutoscale(quiet, kRanges, 1));
  const std::array<ProbedChannel, 2> small{Probe(0.2, -3 * step, 3 * step, 1000.0), ProbedChannel{}};
  EXPECT_TRUE(PlanAutoscale(small, kRanges, 1));
}

class SettingSlotsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("rk350-slots-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::filesystem::path folder_;
};

TEST_F(SettingSlotsTest, SavedTextComesBackAndAnEmptySlotIsNoError) {
  const SettingSlots slots(folder_ / "state" / "rk350" / "scope-setups");
  std::string error;
  EXPECT_FALSE(slots.Load(4, error));
  EXPECT_EQ(error, "");
  ASSERT_TRUE(slots.Save(4, "{\"rate\": 1}\n", error)) << error;
  EXPECT_EQ(slots.Load(4, error), "{\"rate\": 1}\n");
  ASSERT_TRUE(slots.Save(4, "{}\n", error)) << error;  // replaced whole
  EXPECT_EQ(slots.Load(4, error), "{}\n");
  EXPECT_FALSE(slots.Load(5, error));
  // Only the numbered files: no temporary left beside them.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_ / "state/rk350/scope-setups"))
    ++files;
  EXPECT_EQ(files, 1);
  const auto perms = std::filesystem::status(folder_ / "state/rk350/scope-setups").permissions();
  EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
            std::filesystem::perms::none);
}

TEST_F(SettingSlotsTest, AFileThatIsNoSetupIsRefusedWithItsName) {
  const SettingSlots slots(folder_);
  std::filesystem::create_directories(folder_ / "1.json");  // a folder, not a file
  std::ofstream(folder_ / "2.json") << std::string(kMaxSlotBytes + 1, ' ');
  std::string error;
  EXPECT_FALSE(slots.Load(1, error));
  EXPECT_NE(error.find("1.json"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(slots.Load(2, error));
  EXPECT_NE(error.find("2.json"), std::string::npos) << error;
}

TEST(SettingSlotFolder, FollowsTheBaseDirectoryRules) {
  const char* savedState = std::getenv("XDG_STATE_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::string state = savedState ? savedState : "", home = savedHome ? savedHome : "";
  std::string error;
  ::setenv("XDG_STATE_HOME", "/tmp/state", 1);
  ::setenv("HOME", "/home/user", 1);
  EXPECT_EQ(SettingSlotFolder(error), std::filesystem::path("/tmp/state/rk350/scope-setups"));
  ::setenv("XDG_STATE_HOME", "relative", 1);  // ignored: XDG paths must be absolute
  EXPECT_EQ(SettingSlotFolder(error), std::filesystem::path("/home/user/.local/state/rk350/scope-setups"));
  ::unsetenv("XDG_STATE_HOME");
  ::unsetenv("HOME");
  EXPECT_FALSE(SettingSlotFolder(error));
  EXPECT_NE(error, "");
  if (savedState) ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  if (savedHome) ::setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace rk350::scpi

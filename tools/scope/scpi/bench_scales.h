// The common bench dialect's view of the card's settings: a screen of
// divisions over the record (seconds per division from the sample rate and
// the record length, the trigger's place from the pre-trigger share), volts
// per division from an input range, and what :AUToscale makes of probing
// records. Pure arithmetic: the settings table's rows carry the values, the
// library judges them, and the answers are computed from what it set.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace rk350::scpi {

// The screen: the whole record spans the horizontal divisions; an input
// range of ±R volts spans the vertical ones (2R / 8 volts per division).
inline constexpr int kHorizontalDivisions = 10;
inline constexpr int kVerticalDivisions = 8;

// The sample rate at which `samples` span the screen at `secondsPerDivision`.
double RateForTimebaseScale(double secondsPerDivision, std::uint32_t samples);
// Seconds per division of `samples` taken at `rate`.
double TimebaseScaleOf(double rate, std::uint32_t samples);

// The position is the time of the screen's centre relative to the trigger
// instant: 0 puts the trigger in the middle, positive values move it left
// (more of what follows it is shown), a record of span T takes −T/2 .. T/2.
// The pre-trigger share in per cent that does so (outside 0 .. 100 when the
// position lies outside the record).
double PreTriggerPercentFor(double position, double span);
// The position of a record of `samples` at `rate` with `preSamples` before the trigger.
double TimebasePositionOf(double rate, std::uint32_t samples, std::uint32_t preSamples);

// The input range (±volts) whose span is `voltsPerDivision` per division, and back.
double RangeForChannelScale(double voltsPerDivision);
double ChannelScaleOf(double range);

// The smallest of the offered ranges (ascending) that holds ±`peak`, the
// largest when none does.
double RangeHolding(std::span<const double> ranges, double peak);

// :AUToscale. A channel as a probing record showed it.
struct ProbedChannel {
  bool measured = false;  // the record holds the channel
  double range = 0.0;     // the probe's range, ±V
  double minimum = 0.0, maximum = 0.0;
  bool overrange = false;           // samples at the end of the range
  std::optional<double> frequency;  // Hz, when the record holds two periods or more
};

// Headroom above a signal's peak when its range is chosen.
inline constexpr double kAutoscaleHeadroom = 1.2;
// A swing smaller than this many steps of the 8-bit converter is no signal.
inline constexpr double kLeastSignalSteps = 4.0;
// Periods the screen shows once a frequency is known.
inline constexpr double kPeriodsOnScreen = 3.0;

// Whether the channel swings by kLeastSignalSteps or more.
bool HoldsSignal(const ProbedChannel& channel);

// The next range of each measured channel: the smallest offered one that
// holds its peak, plus a converter step, with headroom (never narrower than
// the probe's when it was over range).
std::array<std::optional<double>, 2> NextProbeRanges(std::span<const ProbedChannel, 2> probed,
                                                     std::span<const double> ranges);

struct AutoscalePlan {
  std::array<std::optional<double>, 2> ranges;  // per channel with a signal
  int triggerChannel = 1;                       // the channel with the signal (preferring one with a period)
  double triggerLevel = 0.0;                    // V, midway between its minimum and maximum
  std::optional<double> screenTime;             // s: kPeriodsOnScreen periods; none when no period was found
};
// What the last probe says, or nothing when no channel holds a signal.
// `preferred`: the channel the trigger is on now, kept when it holds one.
std::optional<AutoscalePlan> PlanAutoscale(std::span<const ProbedChannel, 2> probed, std::span<const double> ranges,
                                           int preferred);

}  // namespace rk350::scpi

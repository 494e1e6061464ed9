#include "scpi/bench_scales.h"

#include <algorithm>
#include <cmath>

namespace rk350::scpi {

double RateForTimebaseScale(double secondsPerDivision, std::uint32_t samples) {
  return static_cast<double>(samples) / (secondsPerDivision * kHorizontalDivisions);
}

double TimebaseScaleOf(double rate, std::uint32_t samples) {
  return static_cast<double>(samples) / rate / kHorizontalDivisions;
}

double PreTriggerPercentFor(double position, double span) { return 100.0 * (0.5 - position / span); }

double TimebasePositionOf(double rate, std::uint32_t samples, std::uint32_t preSamples) {
  return (static_cast<double>(samples) / 2.0 - static_cast<double>(preSamples)) / rate;
}

double RangeForChannelScale(double voltsPerDivision) { return voltsPerDivision * kVerticalDivisions / 2.0; }

double ChannelScaleOf(double range) { return 2.0 * range / kVerticalDivisions; }

double RangeHolding(std::span<const double> ranges, double peak) {
  for (const double r : ranges)
    if (r >= peak) return r;
  return ranges.empty() ? 0.0 : ranges.back();
}

namespace {

double Peak(const ProbedChannel& c) { return std::max(std::fabs(c.minimum), std::fabs(c.maximum)); }

// One step of the 8-bit converter at ±range.
double Step(double range) { return 2.0 * range / 256.0; }

}  // namespace

bool HoldsSignal(const ProbedChannel& c) {
  return c.measured && c.maximum - c.minimum >= kLeastSignalSteps * Step(c.range);
}

std::array<std::optional<double>, 2> NextProbeRanges(std::span<const ProbedChannel, 2> probed,
                                                     std::span<const double> ranges) {
  std::array<std::optional<double>, 2> next;
  for (std::size_t i = 0; i < 2; ++i) {
    const ProbedChannel& c = probed[i];
    if (!c.measured || ranges.empty()) continue;
    // The peak is known to a step of the converter: a signal within a step
    // or two of a wide range is looked at again in one that holds that step.
    const double wanted = RangeHolding(ranges, (Peak(c) + Step(c.range)) * kAutoscaleHeadroom);
    // Over range, the peak is not known: never narrower than the probe's range.
    next[i] = c.overrange ? std::max(c.range, wanted) : wanted;
  }
  return next;
}

std::optional<AutoscalePlan> PlanAutoscale(std::span<const ProbedChannel, 2> probed, std::span<const double> ranges,
                                           int preferred) {
  AutoscalePlan plan;
  const auto next = NextProbeRanges(probed, ranges);
  int withSignal = 0, withPeriod = 0;
  for (int channel = 2; channel >= 1; --channel) {
    const ProbedChannel& c = probed[static_cast<std::size_t>(channel - 1)];
    if (!HoldsSignal(c)) continue;
    plan.ranges[static_cast<std::size_t>(channel - 1)] = next[static_cast<std::size_t>(channel - 1)];
    withSignal = channel;  // channel 1 wins over 2
    if (c.frequency && *c.frequency > 0) withPeriod = channel;
  }
  if (withSignal == 0) return std::nullopt;
  const auto holds = [&](int channel) { return plan.ranges[static_cast<std::size_t>(channel - 1)].has_value(); };
  const auto periodic = [&](int channel) {
    const auto& f = probed[static_cast<std::size_t>(channel - 1)].frequency;
    return f && *f > 0;
  };
  // The channel triggered on now keeps the trigger when it holds a signal
  // with a period (or when no channel has one).
  if ((preferred == 1 || preferred == 2) && holds(preferred) && (periodic(preferred) || withPeriod == 0))
    plan.triggerChannel = preferred;
  else
    plan.triggerChannel = withPeriod != 0 ? withPeriod : withSignal;
  const ProbedChannel& t = probed[static_cast<std::size_t>(plan.triggerChannel - 1)];
  plan.triggerLevel = (t.minimum + t.maximum) / 2.0;
  if (t.frequency && *t.frequency > 0) plan.screenTime = kPeriodsOnScreen / *t.frequency;
  return plan;
}

}  // namespace rk350::scpi

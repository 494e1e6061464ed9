#include "scpi/bench_dialect.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <span>

#include "card_settings.h"
#include "core/frame.h"
#include "measurements.h"
#include "scpi/bench_scales.h"
#include "scpi/scpi_parser.h"
#include "trigger_sources.h"

namespace rk350::scpi {

using namespace std::chrono_literals;

std::string AllChannelsBlock(const capture::Record& record, WaveformFormat format) {
  std::string payload;
  for (const auto& trace : record.channels) {
    const std::string block = WaveformBlock(trace, format);
    // "#<d><d digits of length><bytes>": the bytes alone.
    const std::size_t header = block.size() >= 2 ? 2 + static_cast<std::size_t>(block[1] - '0') : block.size();
    if (format == WaveformFormat::Ascii && !payload.empty() && block.size() > header) payload += ',';
    payload.append(block, std::min(header, block.size()));
  }
  return DefiniteBlock(payload);
}

namespace {

// The probing record: long enough to hold two periods of 40 Hz, fast
// enough for ten samples a period of 100 kHz.
constexpr double kProbeRate = 1e6;
constexpr std::uint32_t kProbeSamples = 50000;
// Ranges narrow at each probe until they settle; at most this many records.
constexpr int kMostProbes = 5;
constexpr auto kProbeWait = 5s;  // for each probing record

void Put(scope::SettingsRequest& request, const char* key, const capture::SettingValue& value) {
  const capture::CardSetting* row = capture::FindSettingByKey(key);
  for (auto& change : request.changes)
    if (change.setting == row) {
      change.value = value;
      return;
    }
  request.changes.push_back({row, value});
}

std::string ChannelKey(int channel, const char* field) { return "ch" + std::to_string(channel) + "." + field; }

// The record taken with the settings of `version`, waited for at most kProbeWait.
std::shared_ptr<const scope::Frame> RecordOf(scope::InstrumentThread& instrument, std::uint64_t version) {
  const auto deadline = std::chrono::steady_clock::now() + kProbeWait;
  std::uint64_t seen = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto frame = instrument.RecordFor(version)) return frame;
    if (const auto frame = instrument.WaitNewer(seen, 200ms)) seen = frame->sequence;
  }
  return nullptr;
}

// Each channel's extremes in a probing record (the positions that hold samples).
std::array<ProbedChannel, 2> Probed(const capture::Record& record) {
  std::array<ProbedChannel, 2> probed{};
  for (const auto& trace : record.channels) {
    if (trace.channel < 1 || trace.channel > 2) continue;
    ProbedChannel& c = probed[static_cast<std::size_t>(trace.channel - 1)];
    c.range = trace.fullScale;
    c.overrange = trace.overrange;
    c.minimum = std::numeric_limits<double>::infinity();
    c.maximum = -c.minimum;
    for (const double v : trace.volts)
      if (!std::isnan(v)) {
        c.measured = true;
        c.minimum = std::min(c.minimum, v);
        c.maximum = std::max(c.maximum, v);
      }
    if (!c.measured) c = {};
  }
  return probed;
}

std::optional<double> FrequencyOf(const scope::Frame& frame, int channel) {
  for (const auto& trace : frame.record.channels)
    if (trace.channel == channel) {
      std::size_t first = 0, count = 0;
      scope::HeldRange(trace, first, count);
      const auto f = tools::EstimateFrequency(std::span(trace.volts).subspan(first, count), frame.record.sampleRate,
                                              trace.fullScale / 128.0);
      if (f) return f->hertz;
    }
  return std::nullopt;
}

AutoscaleResult Failure(std::string why) {
  AutoscaleResult result;
  result.failure = std::move(why);
  return result;
}

}  // namespace

AutoscaleResult ProbeForAutoscale(scope::InstrumentThread& instrument, const scope::ScopeSettings& original) {
  AutoscaleResult result;
  const auto& offer = instrument.Offer().card;
  const std::vector<double>& ranges = offer.ranges;
  if (ranges.empty()) return Failure("the card offers no input range");
  std::array<ProbedChannel, 2> probed{};
  std::shared_ptr<const scope::Frame> last;
  std::array<std::optional<double>, 2> probeRanges{ranges.back(), ranges.back()};
  for (int probe = 0; probe < kMostProbes; ++probe) {
    // Free run at a fixed rate and length, no offset: what is there, whatever the trigger.
    scope::SettingsRequest request{.acquisition = scope::Acquisition::Run};
    for (int channel = 1; channel <= 2; ++channel) {
      const auto& r = probeRanges[static_cast<std::size_t>(channel - 1)];
      if (r) Put(request, ChannelKey(channel, "range").c_str(), *r);
      Put(request, ChannelKey(channel, "dcLevel").c_str(), 0.0);
    }
    Put(request, "rate", kProbeRate);
    Put(request, "samples", static_cast<double>(std::min(kProbeSamples, std::max<std::uint32_t>(offer.maxSamples, 1))));
    Put(request, "trigger.source", static_cast<double>(*capture::TriggerSourceCode("none")));
    Put(request, "average", 1.0);
    const scope::Outcome outcome = instrument.Apply(std::move(request));
    if (!outcome.Done()) return Failure("the probing settings were refused: " + outcome.message);
    last = RecordOf(instrument, outcome.snapshot.version);
    if (!last) return Failure("no probing record came");
    probed = Probed(last->record);
    const auto next = NextProbeRanges(probed, ranges);
    bool settled = true;
    for (std::size_t i = 0; i < 2; ++i)
      if (probed[i].measured && next[i] && *next[i] != probed[i].range) settled = false;
    if (settled) break;
    probeRanges = next;
  }
  // The period only of the last record and its channels with a signal: the
  // fit is the costly part of a probe.
  for (std::size_t i = 0; i < 2; ++i)
    if (HoldsSignal(probed[i])) probed[i].frequency = FrequencyOf(*last, static_cast<int>(i + 1));
  const int preferred = capture::TriggerUsesChannel(original.options.triggerSource, 1)   ? 1
                        : capture::TriggerUsesChannel(original.options.triggerSource, 2) ? 2
                                                                                         : 0;
  const auto plan = PlanAutoscale(probed, ranges, preferred);
  if (!plan) return Failure("no signal on any measured channel");

  scope::SettingsRequest request = scope::RequestForAll(original);
  for (int channel = 1; channel <= 2; ++channel)
    if (const auto& r = plan->ranges[static_cast<std::size_t>(channel - 1)]) {
      Put(request, ChannelKey(channel, "range").c_str(), *r);
      Put(request, ChannelKey(channel, "dcLevel").c_str(), 0.0);
    }
  Put(request, "trigger.source",
      static_cast<double>(*capture::TriggerSourceCode(plan->triggerChannel == 1 ? "ch1" : "ch2")));
  Put(request, "trigger.level", plan->triggerLevel);
  if (plan->screenTime)
    Put(request, "rate", RateForTimebaseScale(*plan->screenTime / kHorizontalDivisions, original.options.recordLength));
  else
    result.note = "no period found: the timebase is kept";
  result.request = std::move(request);
  return result;
}

}  // namespace rk350::scpi

#include "card_offer.h"

#include <algorithm>
#include <iterator>
#include <sstream>

#include "card_settings.h"
#include "summary.h"
#include "trigger_sources.h"

namespace rk350::capture {
namespace {

// The channels' trigger modes, by their codes; the first two are the
// settings table's slopes.
constexpr const char* kChannelModes[] = {
    "up through the level, the hysteresis band below it", "down through the level, the band above it",
    "a comparator variant of rising, no band check",      "a comparator variant of falling, no band check",
    "the card's digital condition 4 (no hysteresis)",     "the card's digital condition 5 (no hysteresis)",
    "the card's digital condition 6 (no hysteresis)",
};

// Round rates to ask for; the page lists the rates the card reaches from them.
constexpr double kRoundRates[] = {100e6, 50e6, 25e6,  10e6, 5e6, 2.5e6, 1e6, 500e3, 250e3, 100e3, 50e3, 25e3,
                                  10e3,  5e3,  2.5e3, 1e3,  500, 250,   100, 50,    25,    10,    5,    1};
// Requests that show each band of the card's rate rule, with what it makes
// of them; the first needs CH1 alone (both converters sample it in turn).
constexpr double kRoundingRequests[] = {60e6, 30e6, 13e6, 12e6, 9.9e6, 4.9e6, 3e6, 1e6, 300e3, 1, 1e-3};

std::optional<double> RateReached(const LibraryApi& api, double request) {
  double rate = request;
  if (api.SetSampleFrequencyF(&rate) != RK350_RESULT_OK) return std::nullopt;
  return api.GetSampleFrequencyF();
}

}  // namespace

CardOffer ProbeCardOffer(const LoadedLibrary& library, CardPort port) {
  const LibraryApi& api = library.Api();
  CardOffer offer;
  offer.virtualCard = !port.hardware && library.Find("RK350Sim_SetInputSource") != nullptr;
  uint16_t channels = 0;
  if (api.GetNrChannels(&channels) == RK350_RESULT_OK) offer.channels = channels;
  offer.maxSamples = static_cast<std::uint32_t>(std::max<int32_t>(1, api.GetMaxRecordLength()));
  double ranges[20] = {};
  if (api.GetAvailableSensitivities(ranges) == RK350_RESULT_OK)
    for (double r : ranges)
      if (r > 0) offer.ranges.push_back(r);
  std::sort(offer.ranges.begin(), offer.ranges.end());

  offer.converterRate = api.GetMaxSampleFrequencyF();
  api.SetMeasureMode(RK350_MODE_CH1);
  for (double request : kRoundRates) {
    const auto reached = RateReached(api, request);
    if (!reached || (!offer.rates.empty() && offer.rates.back().reached == *reached)) continue;
    offer.rates.push_back({request, *reached, *reached > offer.converterRate});
  }
  for (double request : kRoundingRequests) {
    if (const auto reached = RateReached(api, request))
      offer.roundings.push_back({request, *reached, *reached > offer.converterRate});
    api.SetMeasureMode(RK350_MODE_CH12);
  }

  for (const auto& source : TriggerSources())
    offer.triggerSources.push_back(api.SetTriggerSource(static_cast<uint8_t>(source.code)) == RK350_RESULT_OK);
  for (int mode = 0; mode < static_cast<int>(std::size(kChannelModes)); ++mode)
    offer.triggerModes.push_back(api.SetTriggerModeCh(1, static_cast<uint8_t>(mode)) == RK350_RESULT_OK);

  offer.generator = api.GetFunctionGenStatus() == RK350_RESULT_OK;
  if (offer.generator) api.GetFuncGenMaxAmplitude(&offer.maxGeneratorAmplitude);
  return offer;
}

std::string DescribeCardOffer(const CardOffer& offer) {
  std::ostringstream s;
  s << "channels: " << offer.channels << " (CH1, CH2), 8-bit converters; record length 1 .. " << offer.maxSamples
    << " samples (--samples, or --time as a duration)\n";

  s << "ranges (--ch1-range, --ch2-range; full scale ±V, the nearest to the request is used, or auto):";
  for (double r : offer.ranges) s << ' ' << FormatVolts(r);
  s << '\n';

  s << "sample rates (--rate): the card runs at the rate it reaches from the request, and the capture says which;\n"
    << "  above " << FormatHertz(offer.converterRate)
    << " both converters sample CH1 in turn (CH1 only); the rule is in docs/api.md (SetSampleFrequencyF)\n"
    << "  requests as this card rounds them:";
  const char* separator = " ";
  for (const auto& r : offer.roundings) {
    s << separator << FormatHertz(r.requested) << " -> " << FormatHertz(r.reached);
    separator = "; ";
  }
  s << "\n";

  s << "trigger sources (--trigger):\n";
  const auto sources = TriggerSources();
  for (std::size_t i = 0; i < sources.size() && i < offer.triggerSources.size(); ++i)
    s << "  " << sources[i].name << " (" << sources[i].code << "): " << sources[i].meaning
      << (offer.triggerSources[i] ? "" : " - not on this card") << '\n';
  s << "trigger modes (--trigger-mode), on the channels:\n";
  const CardSetting& slopes = *FindSettingByKey("trigger.slope");
  for (std::size_t mode = 0; mode < offer.triggerModes.size(); ++mode) {
    const SettingChoice* named = FindChoice(slopes, static_cast<int>(mode));
    s << "  " << (named != nullptr ? std::string(named->name) + " (" : "") << mode << (named != nullptr ? ")" : "")
      << ": " << kChannelModes[mode] << (offer.triggerModes[mode] ? "" : " - not on this card") << '\n';
  }
  s << "  on the external input: " << ChoiceNames(slopes) << ", threshold 1.4 V\n"
    << "trigger level (--trigger-level) within the source channel's full scale, in 1/128 steps of it; hysteresis "
       "(--trigger-hysteresis) default 10/128 of the full scale; time-out (--trigger-timeout) in ms or none\n";

  if (!offer.generator) {
    s << "function generator: none on this card\n";
  } else {
    std::string types;
    for (const auto& type : FindSettingByKey("generator.type")->choices)
      if (type.code != RK350_GEN_ARBITRARY) types += (types.empty() ? "" : ", ") + std::string(type.name);
    s << "function generator (--gen): " << types << "; a user waveform with --gen-file; frequency above 0 up to "
      << FormatHertz(kGeneratorTopFrequency) << " (standard waveforms; better than 1 part in 10,000); amplitude 0 .. "
      << FormatVolts(offer.maxGeneratorAmplitude) << " peak; offset within the same; symmetry 0 .. 100 %\n";
  }
  return s.str();
}

}  // namespace rk350::capture

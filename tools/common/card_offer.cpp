#include "card_offer.h"

#include <algorithm>
#include <iterator>
#include <sstream>

#include "card_settings.h"
#include "summary.h"
#include "trigger_sources.h"

namespace rk350::capture {
namespace {

// What the modes without a name in the settings table do.
constexpr const char* kChannelModes[] = {
    "up through the level, the hysteresis band below it", "down through the level, the band above it",
    "2: a comparator variant of rising, no band check",   "3: a comparator variant of falling, no band check",
    "4: the card's digital condition 4 (no hysteresis)",  "5: the card's digital condition 5 (no hysteresis)",
    "6: the card's digital condition 6 (no hysteresis)",
};

// Requests that show each band of the rate rule, with what the card makes
// of them. The first needs CH1 alone (both converters sample it in turn).
constexpr double kRateRequests[] = {60e6, 30e6, 13e6, 12e6, 9.9e6, 4.9e6, 3e6, 1e6, 300e3, 1, 1e-3};

}  // namespace

std::string DescribeCardOffer(const LibraryApi& api) {
  std::ostringstream s;
  uint16_t channels = 0;
  api.GetNrChannels(&channels);
  s << "channels: " << channels << " (CH1, CH2), 8-bit converters; record length 1 .. " << api.GetMaxRecordLength()
    << " samples (--samples, or --time as a duration)\n";

  double ranges[20] = {};
  s << "ranges (--ch1-range, --ch2-range; full scale ±V, the nearest to the request is used, or auto):";
  if (api.GetAvailableSensitivities(ranges) == RK350_RESULT_OK) {
    std::sort(std::begin(ranges), std::end(ranges));
    for (double r : ranges)
      if (r > 0) s << ' ' << FormatVolts(r);
  }
  s << '\n';

  const double top = api.GetMaxSampleFrequencyF();
  s << "sample rates (--rate): the card runs at the rate it reaches from the request, and the capture says which:\n"
    << "  above " << FormatHertz(top) << ": " << FormatHertz(2 * top)
    << ", CH1 only (both converters sample it in turn)\n"
    << "  above 25 MHz: 50 MHz; above 12.5 MHz up to 25 MHz: 25 MHz; 10 .. 12.5 MHz: 10 MHz; 5 MHz up to 10 MHz "
       "(not included): 5 MHz\n"
    << "  below 5 MHz: 50 MHz / (2 x P x N), the nearest such rate (halves to even) for a prescaler P and a "
       "divider N = 1 .. 65535, down to about 1.2 uHz\n"
    << "  requests as this card rounds them:";
  api.SetMeasureMode(1);
  const char* separator = " ";
  for (double request : kRateRequests) {
    double rate = request;
    if (api.SetSampleFrequencyF(&rate) != RK350_RESULT_OK) continue;
    s << separator << FormatHertz(request) << " -> " << FormatHertz(api.GetSampleFrequencyF());
    separator = "; ";
    if (request == kRateRequests[0]) api.SetMeasureMode(3);
  }
  s << "\n";

  s << "trigger sources (--trigger):\n";
  for (const auto& source : TriggerSources()) {
    const bool offered = api.SetTriggerSource(static_cast<uint8_t>(source.code)) == RK350_RESULT_OK;
    s << "  " << source.name << " (" << source.code << "): " << source.meaning << (offered ? "" : " - not on this card")
      << '\n';
  }
  s << "trigger modes (--trigger-mode), on the channels:\n";
  for (int mode = 0; mode < 7; ++mode) {
    const bool offered = api.SetTriggerModeCh(1, static_cast<uint8_t>(mode)) == RK350_RESULT_OK;
    const SettingChoice* named = FindChoice(*FindSettingByKey("trigger.slope"), mode);
    s << "  " << (named != nullptr ? std::string(named->name) + " (" + std::to_string(mode) + "): " : "")
      << kChannelModes[mode] << (offered ? "" : " - not on this card") << '\n';
  }
  s << "  on the external input: rising (0) and falling (1), threshold 1.4 V\n"
    << "trigger level (--trigger-level) within the source channel's full scale, in 1/128 steps of it; hysteresis "
       "(--trigger-hysteresis) default 10/128 of the full scale; time-out (--trigger-timeout) in ms or none\n";

  if (api.GetFunctionGenStatus() != RK350_RESULT_OK) {
    s << "function generator: none on this card\n";
  } else {
    double amplitude = 0;
    api.GetFuncGenMaxAmplitude(&amplitude);
    std::string types;
    for (const auto& type : FindSettingByKey("generator.type")->choices)
      if (type.code != RK350_GEN_ARBITRARY) types += (types.empty() ? "" : ", ") + std::string(type.name);
    s << "function generator (--gen): " << types << "; a user waveform with --gen-file; frequency above 0 up to "
      << FormatHertz(kGeneratorTopFrequency) << " (standard waveforms; better than 1 part in 10,000); amplitude 0 .. "
      << FormatVolts(amplitude) << " peak; offset within the same; symmetry 0 .. 100 %\n";
  }
  return s.str();
}

}  // namespace rk350::capture

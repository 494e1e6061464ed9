// A user waveform from a text file, as the generator's memory takes it: one
// period of volts, one a line ("0.5"), or time and volts ("0.001,0.5"), which
// are resampled to the memory's 1024 points of one period. The card's samples
// run from 0 (offset - amplitude) to 65535 (offset + amplitude), so the
// file's lowest and highest volts set the generator's amplitude and offset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rk350::tools {

// The waveform memory: 1024 samples step at the fine frequency resolution
// (the frequency is the repetition frequency); any other count is read out
// at one of the card's fixed sample clocks.
constexpr std::size_t kShortWaveformSamples = 1024;
constexpr std::size_t kLongestWaveform = 65536;

struct ArbitraryWaveform {
  std::vector<double> volts;     // one period, one value per memory sample
  std::optional<double> period;  // s, when the file gave times
  bool operator==(const ArbitraryWaveform&) const = default;
};

// Lines hold one number (volts) or two (time in seconds, volts), separated by
// commas, semicolons, tabs or spaces; '#' starts a comment; a first line
// that is not numbers names the columns. All lines have the same form. Times
// rise strictly; the file's last sample is one step before the period ends.
// On a fault returns nothing with the reason (and line) in `error`.
std::optional<ArbitraryWaveform> ParseWaveform(const std::string& text, std::string& error);

// The generator's memory for the waveform: 16-bit samples with the
// amplitude (V, peak) and offset (V) that make them the file's volts.
struct CardWaveform {
  std::vector<std::uint16_t> samples;
  double amplitude = 0.0;
  double offset = 0.0;
};
CardWaveform ToCardWaveform(const std::vector<double>& volts);

}  // namespace rk350::tools

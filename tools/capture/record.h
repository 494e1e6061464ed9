// One captured record as the writers see it: volts per channel on a common
// time base, with the trigger point.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rk350::capture {

struct ChannelTrace {
  std::string name;           // "CH1"
  double fullScale = 0.0;     // V, the range in effect (0 when unknown)
  std::vector<double> volts;  // one value per sample
};

struct Record {
  double sampleRate = 0.0;             // Hz
  std::int64_t triggerIndex = 0;       // sample at the trigger instant (t = 0)
  std::optional<double> triggerLevel;  // V, on the trigger source channel
  std::string triggerChannel;          // name of the channel the level belongs to
  std::vector<ChannelTrace> channels;
  // Only when asked for: per channel the converter's 8-bit codes (the raw
  // samples' high byte, 128 is 0 V).
  std::vector<std::vector<std::uint8_t>> codes;
  // Leading positions that hold no samples: the trigger came before the
  // samples ahead of it were taken, and the library leaves those positions
  // at 0 V.
  std::size_t emptyLeading = 0;

  std::size_t Length() const { return channels.empty() ? 0 : channels.front().volts.size(); }
  // Time of sample i relative to the trigger, in seconds.
  double TimeOf(std::size_t i) const {
    return (static_cast<double>(i) - static_cast<double>(triggerIndex)) / sampleRate;
  }
};

}  // namespace rk350::capture

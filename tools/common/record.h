// One captured record as the writers see it: volts per channel on a common
// time base, with the trigger point.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rk350::capture {

struct ChannelTrace {
  std::string name;        // "CH1"
  double fullScale = 0.0;  // V, the range in effect (0 when unknown)
  // One value per record position; NaN where the position holds no sample
  // (as the library reports it).
  std::vector<double> volts;
  bool overrange = false;  // a sample lies at the end of the range
  int channel = 1;         // 1 or 2, as the library numbers them
};

// Runs of positions where some channel holds no sample.
struct EmptyRun {
  std::size_t first = 0, count = 0;
};

struct Record {
  double sampleRate = 0.0;             // Hz
  std::int64_t triggerIndex = 0;       // sample at the trigger instant (t = 0)
  std::optional<double> triggerLevel;  // V, on the trigger source channel
  std::string triggerChannel;          // name of the channel the level belongs to
  std::vector<ChannelTrace> channels;
  // How the library took the record: triggered (and by what) or forced, in
  // words (empty when not known) and as the library's RK350_RECORD_* code
  // (0 when not known, or when averaged records were taken differently).
  std::string taken;
  std::uint32_t how = 0;
  // Why the card's own trigger took the record, and what to do for a
  // complete one; empty when the library's search was in use.
  std::string cardTriggerReason;
  // Only when asked for: per channel the converter's 8-bit codes (the raw
  // samples' high byte, 128 is 0 V).
  std::vector<std::vector<std::uint8_t>> codes;

  std::size_t Length() const { return channels.empty() ? 0 : channels.front().volts.size(); }
  std::vector<EmptyRun> EmptyRuns() const;
  // Positions of a channel that hold no sample.
  static std::size_t EmptyCount(const ChannelTrace& trace);
  // Time of sample i relative to the trigger, in seconds.
  double TimeOf(std::size_t i) const {
    return (static_cast<double>(i) - static_cast<double>(triggerIndex)) / sampleRate;
  }
};

}  // namespace rk350::capture

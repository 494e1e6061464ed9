// One record as the recorder keeps it: the converters' codes as the library
// handed them out, and what the library said about the record. The writer
// needs nothing else, so every surface (tool, scope, Python) fills the same
// struct.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rk350::recording {

struct ChannelFrame {
  int channel = 1;                  // 1 or 2, as the library numbers them
  std::vector<std::uint8_t> codes;  // one per record position; 128 is 0 V
  std::int32_t validFirst = 0;      // positions validFirst .. validFirst + validCount - 1 hold samples
  std::int32_t validCount = 0;
  bool overrange = false;  // a sample lies at the end of the range
  double range = 0.0;      // V full scale of this record
};

struct RecordFrame {
  std::uint64_t sequence = 0;  // 1 for the first record the library finished in this run
  double hostTime = 0.0;       // seconds since 1970 (UTC) when the record was read
  std::uint32_t how = 0;       // RK350_RECORD_*: how the library took the record
  std::int64_t triggerIndex = 0;
  double sampleInterval = 0.0;        // s
  std::uint32_t settingsVersion = 1;  // changes whenever the card's settings did
  std::vector<ChannelFrame> channels;

  std::size_t Length() const { return channels.empty() ? 0 : channels.front().codes.size(); }
  std::size_t Bytes() const { return Length() * channels.size(); }
};

// What a recording file says once, at its start: the card, the library, the
// settings (by the settings table's names) and the record's shape.
struct RecordingHeader {
  std::vector<std::pair<std::string, std::string>> identity;  // "card", "serial", "library", ...
  std::vector<std::pair<std::string, std::string>> settings;  // "timebase.rate" -> "1000000"
  std::string description;                                    // the settings in words
};

// Volts of a code in a range: the library's own conversion.
inline double VoltsPerCode(double range) { return range / 128.0; }
inline double CodeVolts(std::uint8_t code, double range) {
  return (static_cast<int>(code) - 128) * VoltsPerCode(range);
}

}  // namespace rk350::recording

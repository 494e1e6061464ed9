// The recording's command-line values: durations ("10min", "90s", "1.5h")
// and sizes ("500M", "2G", "100MB"), and --split, which takes either.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace rk350::capture {

// Seconds, > 0; a plain number is seconds. Units: ms, s, min, h.
std::optional<double> ParseDuration(const std::string& text);
// Bytes, > 0; SI prefixes k, M, G, T (powers of 1000), an optional "B".
std::optional<std::uint64_t> ParseByteSize(const std::string& text);

struct SplitRule {
  std::uint64_t bytes = 0;  // a new part at this size, or
  double seconds = 0.0;     // after this long
};
// A duration when it ends in a time unit, else a size.
std::optional<SplitRule> ParseSplit(const std::string& text);

}  // namespace rk350::capture

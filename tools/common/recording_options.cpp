#include "recording_options.h"

#include <cmath>
#include <cstdlib>

namespace rk350::capture {
namespace {

// The number at the start of `text` and the rest after it.
std::optional<std::pair<double, std::string>> Split(const std::string& text) {
  if (text.empty() || text.find_first_of(" \t") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(value) || value <= 0) return std::nullopt;
  return std::make_pair(value, std::string(end));
}

struct Unit {
  const char* name;
  double factor;
};

constexpr Unit kTimeUnits[] = {{"", 1}, {"s", 1}, {"ms", 1e-3}, {"min", 60}, {"h", 3600}};
constexpr Unit kSizeUnits[] = {{"", 1},     {"B", 1},   {"k", 1e3},  {"kB", 1e3}, {"M", 1e6},
                               {"MB", 1e6}, {"G", 1e9}, {"GB", 1e9}, {"T", 1e12}, {"TB", 1e12}};

template <std::size_t N>
std::optional<double> Scaled(const std::string& text, const Unit (&units)[N]) {
  const auto parts = Split(text);
  if (!parts) return std::nullopt;
  for (const auto& unit : units)
    if (parts->second == unit.name) return parts->first * unit.factor;
  return std::nullopt;
}

}  // namespace

std::optional<double> ParseDuration(const std::string& text) {
  const auto seconds = Scaled(text, kTimeUnits);
  if (!seconds || *seconds > 1e9) return std::nullopt;
  return seconds;
}

std::optional<std::uint64_t> ParseByteSize(const std::string& text) {
  const auto bytes = Scaled(text, kSizeUnits);
  if (!bytes || *bytes < 1 || *bytes > 1e18) return std::nullopt;
  return static_cast<std::uint64_t>(*bytes);
}

std::optional<SplitRule> ParseSplit(const std::string& text) {
  // A bare number is a size here: "--split 100M" is the common case.
  const auto parts = Split(text);
  if (!parts) return std::nullopt;
  if (!parts->second.empty() && parts->second != "B" && !ParseByteSize(text)) {
    if (const auto seconds = ParseDuration(text)) return SplitRule{0, *seconds};
    return std::nullopt;
  }
  if (const auto bytes = ParseByteSize(text)) return SplitRule{*bytes, 0.0};
  return std::nullopt;
}

}  // namespace rk350::capture

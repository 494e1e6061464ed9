#include "arbitrary_waveform.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace rk350::tools {
namespace {

// The numbers of one line; nothing when a field is not a number.
std::optional<std::vector<double>> Numbers(const std::string& line) {
  std::vector<double> out;
  std::size_t i = 0;
  const auto separator = [](char c) { return c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r'; };
  while (i < line.size()) {
    while (i < line.size() && separator(line[i])) ++i;
    if (i == line.size()) break;
    std::size_t end = i;
    while (end < line.size() && !separator(line[end])) ++end;
    double v = 0;
    const char* first = line.data() + i;
    const char* last = line.data() + end;
    if (*first == '+') ++first;
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || !std::isfinite(v)) return std::nullopt;
    out.push_back(v);
    i = end;
  }
  return out;
}

// One period of samples at the given times, read at `count` even steps by
// straight lines between neighbours (the last joins the first again).
std::vector<double> Resample(const std::vector<double>& times, const std::vector<double>& volts, double period,
                             std::size_t count) {
  std::vector<double> out(count);
  std::size_t k = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double t = times.front() + period * static_cast<double>(i) / static_cast<double>(count);
    while (k + 1 < times.size() && times[k + 1] <= t) ++k;
    const double t0 = times[k];
    const double t1 = k + 1 < times.size() ? times[k + 1] : times.front() + period;
    const double v1 = k + 1 < times.size() ? volts[k + 1] : volts.front();
    out[i] = volts[k] + (v1 - volts[k]) * (t - t0) / (t1 - t0);
  }
  return out;
}

}  // namespace

std::optional<ArbitraryWaveform> ParseWaveform(const std::string& text, std::string& error) {
  std::vector<double> times, volts;
  std::istringstream in(text);
  std::string line;
  std::size_t number = 0, columns = 0;
  bool any = false;
  while (std::getline(in, line)) {
    ++number;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    const auto values = Numbers(line);
    if (values && values->empty()) continue;
    if (!values || values->size() > 2) {
      if (!any && !values) {  // the columns' names
        any = true;
        continue;
      }
      error = "line " + std::to_string(number) + ": expected volts, or time and volts";
      return std::nullopt;
    }
    any = true;
    if (columns == 0) columns = values->size();
    if (values->size() != columns) {
      error = "line " + std::to_string(number) + ": " + std::to_string(values->size()) +
              " columns where the file has " + std::to_string(columns);
      return std::nullopt;
    }
    if (columns == 2) {
      if (!times.empty() && !((*values)[0] > times.back())) {
        error = "line " + std::to_string(number) + ": times must rise";
        return std::nullopt;
      }
      times.push_back((*values)[0]);
    }
    volts.push_back(values->back());
    if (volts.size() > kLongestWaveform) {
      error = "more than " + std::to_string(kLongestWaveform) + " samples (the generator's memory)";
      return std::nullopt;
    }
  }
  if (volts.empty()) {
    error = "no samples";
    return std::nullopt;
  }
  ArbitraryWaveform w;
  if (columns == 1) {
    w.volts = std::move(volts);
    return w;
  }
  if (times.size() < 2) {
    error = "a waveform of times and volts needs two samples at least";
    return std::nullopt;
  }
  // The last sample is one mean step before the period ends.
  const double span = times.back() - times.front();
  w.period = span * static_cast<double>(times.size()) / static_cast<double>(times.size() - 1);
  w.volts = Resample(times, volts, *w.period, kShortWaveformSamples);
  return w;
}

CardWaveform ToCardWaveform(const std::vector<double>& volts) {
  CardWaveform c;
  if (volts.empty()) return c;
  const auto [lo, hi] = std::minmax_element(volts.begin(), volts.end());
  c.offset = (*hi + *lo) / 2.0;
  c.amplitude = (*hi - *lo) / 2.0;
  c.samples.reserve(volts.size());
  for (double v : volts) {
    const double share = c.amplitude > 0 ? (v - *lo) / (*hi - *lo) : 0.0;
    c.samples.push_back(static_cast<std::uint16_t>(std::clamp(std::nearbyint(share * 65535.0), 0.0, 65535.0)));
  }
  return c;
}

}  // namespace rk350::tools

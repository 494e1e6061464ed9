#include "record.h"

#include <cmath>

namespace rk350::capture {

std::vector<EmptyRun> Record::EmptyRuns() const {
  std::vector<EmptyRun> runs;
  const std::size_t n = Length();
  auto empty = [&](std::size_t i) {
    for (const auto& trace : channels)
      if (i >= trace.volts.size() || std::isnan(trace.volts[i])) return true;
    return false;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (!empty(i)) continue;
    if (!runs.empty() && runs.back().first + runs.back().count == i) {
      ++runs.back().count;
    } else {
      runs.push_back({i, 1});
    }
  }
  return runs;
}

std::size_t Record::EmptyCount(const ChannelTrace& trace) {
  std::size_t n = 0;
  for (double v : trace.volts) n += std::isnan(v) ? 1 : 0;
  return n;
}

}  // namespace rk350::capture

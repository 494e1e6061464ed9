#include "record_average.h"

#include <cmath>
#include <limits>

namespace rk350::capture {

void RecordAverage::Add(const Record& record) {
  if (sums_.empty()) {
    first_ = record;
    for (const auto& trace : record.channels) {
      sums_.emplace_back(trace.volts.size(), 0.0);
      counts_.emplace_back(trace.volts.size(), 0u);
    }
  }
  for (std::size_t c = 0; c < sums_.size() && c < record.channels.size(); ++c) {
    const auto& volts = record.channels[c].volts;
    first_.channels[c].overrange = first_.channels[c].overrange || record.channels[c].overrange;
    for (std::size_t i = 0; i < sums_[c].size() && i < volts.size(); ++i) {
      if (std::isnan(volts[i])) continue;
      sums_[c][i] += volts[i];
      ++counts_[c][i];
    }
  }
}

Record RecordAverage::Result() const {
  Record out = first_;
  for (std::size_t c = 0; c < sums_.size(); ++c) {
    auto& volts = out.channels[c].volts;
    for (std::size_t i = 0; i < volts.size(); ++i)
      volts[i] = counts_[c][i] > 0 ? sums_[c][i] / counts_[c][i] : std::numeric_limits<double>::quiet_NaN();
  }
  return out;
}

}  // namespace rk350::capture

#include "record_average.h"

#include <cmath>
#include <limits>
#include <utility>

namespace rk350::capture {

void RecordAverage::Add(Record record) {
  if (++records_ == 1) {
    first_ = std::move(record);
    return;
  }
  if (records_ == 2) StartSums();
  if (record.how != first_.how || record.taken != first_.taken) {
    first_.how = 0;
    first_.taken = "some records triggered, some forced";
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

// The sums begin with the first record, once a second one comes.
void RecordAverage::StartSums() {
  for (const auto& trace : first_.channels) {
    auto& sums = sums_.emplace_back(trace.volts.size(), 0.0);
    auto& counts = counts_.emplace_back(trace.volts.size(), 0u);
    for (std::size_t i = 0; i < trace.volts.size(); ++i) {
      if (std::isnan(trace.volts[i])) continue;
      sums[i] = trace.volts[i];
      counts[i] = 1;
    }
  }
}

Record RecordAverage::Result() {
  Record out = std::move(first_);
  for (std::size_t c = 0; c < sums_.size() && c < out.channels.size(); ++c) {
    auto& volts = out.channels[c].volts;
    for (std::size_t i = 0; i < volts.size() && i < sums_[c].size(); ++i)
      volts[i] = counts_[c][i] > 0 ? sums_[c][i] / counts_[c][i] : std::numeric_limits<double>::quiet_NaN();
  }
  *this = RecordAverage();
  return out;
}

}  // namespace rk350::capture

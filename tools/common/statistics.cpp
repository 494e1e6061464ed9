#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

namespace rk350::capture {

ChannelStatistics ComputeStatistics(std::span<const double> record, double sampleRate) {
  // Positions without a sample (NaN) take no part. They lie before or after
  // the samples the card took, so those are one stretch of the record and
  // need no copy; samples with gaps between them are gathered.
  const auto held = [](double v) { return !std::isnan(v); };
  const auto first = std::find_if(record.begin(), record.end(), held);
  const auto last = std::find_if(record.rbegin(), std::make_reverse_iterator(first), held).base();
  std::vector<double> gathered;
  std::span<const double> volts(first, last);
  if (std::find_if_not(first, last, held) != last) {
    std::copy_if(first, last, std::back_inserter(gathered), held);
    volts = gathered;
  }
  ChannelStatistics s;
  s.count = volts.size();
  if (volts.empty()) return s;
  const auto [lo, hi] = std::minmax_element(volts.begin(), volts.end());
  s.minimum = *lo;
  s.maximum = *hi;
  s.peakToPeak = s.maximum - s.minimum;
  long double sum = 0.0L;
  long double squares = 0.0L;
  for (double v : volts) {
    sum += v;
    squares += static_cast<long double>(v) * v;
  }
  const long double n = static_cast<long double>(volts.size());
  const long double mean = sum / n;
  s.mean = static_cast<double>(mean);
  s.rms = static_cast<double>(std::sqrt(squares / n));
  // The variance from the sums can come out a hair below zero for a constant.
  s.acRms = static_cast<double>(std::sqrt(std::max(0.0L, squares / n - mean * mean)));
  s.frequency = EstimateFrequency(volts, sampleRate);
  return s;
}

std::optional<double> EstimateFrequency(std::span<const double> volts, double sampleRate, double minimumSwing) {
  if (volts.size() < 3 || !(sampleRate > 0.0) || !std::isfinite(sampleRate)) return std::nullopt;
  const auto [lo, hi] = std::minmax_element(volts.begin(), volts.end());
  const double swing = *hi - *lo;
  if (!(swing >= minimumSwing) || !std::isfinite(swing)) return std::nullopt;
  const double mid = (*hi + *lo) / 2.0;
  const double low = mid - swing / 10.0;

  // Times (in samples) where the signal rises through the mid level after it
  // has been below the lower hysteresis bound.
  std::vector<double> rising;
  bool armed = false;
  for (std::size_t i = 1; i < volts.size(); ++i) {
    if (volts[i - 1] <= low) armed = true;
    if (armed && volts[i - 1] < mid && volts[i] >= mid) {
      const double fraction = (mid - volts[i - 1]) / (volts[i] - volts[i - 1]);
      rising.push_back(static_cast<double>(i - 1) + fraction);
      armed = false;
    }
  }
  if (rising.size() < 3) return std::nullopt;

  // A periodic signal has periods of one length; noise does not.
  double shortest = rising[1] - rising[0];
  double longest = shortest;
  for (std::size_t i = 2; i < rising.size(); ++i) {
    const double period = rising[i] - rising[i - 1];
    shortest = std::min(shortest, period);
    longest = std::max(longest, period);
  }
  if (longest - shortest > 0.1 * longest + 1.0) return std::nullopt;

  const double periods = static_cast<double>(rising.size() - 1);
  return periods * sampleRate / (rising.back() - rising.front());
}

}  // namespace rk350::capture

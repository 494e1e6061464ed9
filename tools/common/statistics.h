// Summary figures of one channel's record: extremes, mean, RMS and the
// frequency of a periodic signal.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace rk350::capture {

struct ChannelStatistics {
  std::size_t count = 0;
  double minimum = 0.0;             // V
  double maximum = 0.0;             // V
  double mean = 0.0;                // V
  double peakToPeak = 0.0;          // V
  double rms = 0.0;                 // V, including the mean
  double acRms = 0.0;               // V, standard deviation around the mean
  std::optional<double> frequency;  // Hz, only for a periodic signal
};

// Over the positions that hold samples (NaN marks one that does not); a
// record without samples gives a zero summary without a frequency.
ChannelStatistics ComputeStatistics(std::span<const double> volts, double sampleRate);

// Frequency from the crossings of the mid level (between minimum and maximum)
// with a hysteresis of a tenth of the peak-to-peak value, the crossing times
// interpolated between samples. Needs at least two full periods whose lengths
// agree (so noise, DC and a single edge give no frequency), and a swing of at
// least `minimumSwing` volts.
std::optional<double> EstimateFrequency(std::span<const double> volts, double sampleRate, double minimumSwing = 1e-6);

}  // namespace rk350::capture
